#pragma once
#include "framework/CTreeCtrl.h"
#include "framework/CImageList.h"
#include "engine/project/ProjectRunSink.h"
#include <unknwn.h>

class CProjectTester;

// The Project tester's tree: shows the type of an opened project and the
// feature tree of its active product, and passes failed calls to the page.
class CProjectTesterTree : public CTreeCtrl, public CProjectRunSink {
public:
    void InitTree(CProjectTester* pOwner);
    // The walk, with redraw off while the tree is emptied and filled.
    void PopulateTree(IUnknown* pProject) override;

    // What a project test puts into the tree; failure lines go to the page.
    void AddError(const CString& strText) override;
    void DeleteAllNodes() override;
    NodeId AddNode(NodeId parent, const CString& text) override;
    void ExpandNode(NodeId node) override;
    void CollapseNode(NodeId node) override;
    // The stop prompt of the running test, when there is one.
    bool IsStopRequested() override;

private:
    // A node's id is its item handle; the root stands for the top level.
    static HTREEITEM ItemOf(NodeId node);

    CImageList m_imageList;
    bool m_bImageListCreated = false;
    CProjectTester* m_pOwner = nullptr;
};
