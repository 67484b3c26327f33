#pragma once
#include "framework/CTreeCtrl.h"
#include "framework/CImageList.h"
#include <unknwn.h>

class CProjectTester;
struct IFeatures;

// The Project tester's tree: shows the type of an opened project and the
// feature tree of its active product, reports failed calls through the page
// and closes the project when done.
class CProjectTesterTree : public CTreeCtrl {
public:
    // Deepest feature level that is walked into; a deeper one (a feature
    // graph that loops, or absurd nesting) is left out and reported once.
    static constexpr int MAX_FEATURE_DEPTH = 256;
    // Most feature nodes one walk shows. A graph that loops with more than one
    // way back grows without end well within the depth limit; this ends it.
    static constexpr int MAX_FEATURE_NODES = 150000;

    void InitTree(CProjectTester* pOwner);
    // Replaces the tree's content by the project's; a null project only
    // empties it. A failed enumeration throws CComException.
    void PopulateTree(IUnknown* pProject);

private:
    void AddFeaturesToTree(HTREEITEM hParent, IFeatures* pFeatures, int nDepth);
    HTREEITEM AddTreeItem(HTREEITEM hParent, const CString& text) const;
    // The page's ReportIfFailed, also counting a successful call that gave no
    // object as that call's failure.
    bool ReportIfFailedOrNull(HRESULT hr, const void* pResult, const char* pszText) const;

    CImageList m_imageList;
    bool m_bImageListCreated = false;
    CProjectTester* m_pOwner = nullptr;
    bool m_bDepthLimitReported = false;
    int m_nFeatureNodes = 0;
    bool m_bNodeLimitReported = false;
};
