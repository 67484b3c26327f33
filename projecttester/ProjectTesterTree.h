#pragma once
#include "framework/CTreeCtrl.h"
#include "framework/CImageList.h"
#include "projecttester/ProjectTestSite.h"
#include <unknwn.h>

class CProjectTester;

// The Project tester's tree: shows the type of an opened project and the
// feature tree of its active product, and passes failed calls to the page.
class CProjectTesterTree : public CTreeCtrl, public CProjectTestSite {
public:
    void InitTree(CProjectTester* pOwner);
    // The walk, with redraw off while the tree is emptied and filled.
    void PopulateTree(IUnknown* pProject) override;

    // What a project test puts into the tree; failure lines go to the page.
    void AddError(const CString& strText) override;
    void DeleteAllNodes() override;
    HTREEITEM AddTreeItem(HTREEITEM hParent, const CString& text) override;
    void ExpandNode(HTREEITEM hNode) override;
    void CollapseNode(HTREEITEM hNode) override;

private:
    CImageList m_imageList;
    bool m_bImageListCreated = false;
    CProjectTester* m_pOwner = nullptr;
};
