#pragma once
#include "framework/CString.h"
#include <commctrl.h>
#include <unknwn.h>

// Where a project test puts what it finds: failure lines, and the nodes of the
// project's structure. The Project tester's tree shows them; the unattended
// report records them. Node handles are the site's own; the test only passes
// them back (TVI_ROOT stands for the top level).
class CProjectTestSite {
public:
    virtual ~CProjectTestSite() = default;

    virtual void AddError(const CString& strText) = 0;
    virtual void DeleteAllNodes() = 0;
    // Inserts a node as the first child of hParent; gives its handle. A
    // feature node starts expanded, the project node does not.
    virtual HTREEITEM AddTreeItem(HTREEITEM hParent, const CString& strText) = 0;
    virtual void ExpandNode(HTREEITEM hNode) = 0;
    // Takes a node's expansion back: a level of features that did not reach
    // its end leaves its parent as it was.
    virtual void CollapseNode(HTREEITEM hNode) = 0;

    // Replaces the site's nodes by the opened project's (a null project only
    // empties them) by one walk of it. A site that shows the nodes may wrap
    // the walk, as a tree does with its redraw. A failed enumeration throws
    // CComException.
    virtual void PopulateTree(IUnknown* pProject);

    // Adds the line and gives true when hr is a failure code.
    bool ReportIfFailed(HRESULT hr, const CString& strText);
};
