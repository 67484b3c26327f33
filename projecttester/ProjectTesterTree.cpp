#include "projecttester/ProjectTesterTree.h"
#include "projecttester/ProjectTester.h"
#include "projecttester/ComResult.h"
#include "framework/CBstr.h"
#include "framework/CComPtr.h"
#include "res/resource.h"
#include <Automation.h>

namespace {
// Clears a VARIANT on every path, so an element's object is released even
// when the check of a later call throws.
class CVariantHolder {
public:
    CVariantHolder() { VariantInit(&m_var); }
    ~CVariantHolder() { VariantClear(&m_var); }
    CVariantHolder(const CVariantHolder&) = delete;
    CVariantHolder& operator=(const CVariantHolder&) = delete;
    VARIANT m_var;
};


// Redraw stays off while the tree is emptied and filled, and comes back on
// with one repaint on every way out, a CComException included. Under Wine a
// node inserted under a shown, expanded parent repaints the control at once.
class CRedrawOff {
public:
    explicit CRedrawOff(const CTreeCtrl& tree) : m_tree(tree) { m_tree.SetRedraw(FALSE); }
    ~CRedrawOff()
    {
        m_tree.SetRedraw(TRUE);
        m_tree.Invalidate();
    }
    CRedrawOff(const CRedrawOff&) = delete;
    CRedrawOff& operator=(const CRedrawOff&) = delete;
private:
    const CTreeCtrl& m_tree;
};

// Feature nodes are inserted already expanded, because under Wine every
// call that names a node looks its handle up by a scan of the nodes before
// it. A level of the walk that does not reach its end (a failed call, a
// CComException) takes its parent's expansion back: such a level leaves its
// parent as it was, not expanded.
class CLevelExpansion {
public:
    CLevelExpansion(const CTreeCtrl& tree, HTREEITEM hParent) : m_tree(tree), m_hParent(hParent) {}
    ~CLevelExpansion()
    {
        if (!m_bReachedEnd) m_tree.Expand(m_hParent, TVE_COLLAPSE);
    }
    CLevelExpansion(const CLevelExpansion&) = delete;
    CLevelExpansion& operator=(const CLevelExpansion&) = delete;
    void ReachedEnd() { m_bReachedEnd = true; }
private:
    const CTreeCtrl& m_tree;
    HTREEITEM m_hParent;
    bool m_bReachedEnd = false;
};

// The thread's error object must describe the call that ComCheck is about to
// judge, not one left behind by an earlier call.
void ClearErrorInfo()
{
    SetErrorInfo(0, nullptr);
}

UINT CaptionForType(long nType, IProjectInfo* pInfo, VARIANT_BOOL bScriptBased)
{
    switch (nType) {
    case 1:
        if (!pInfo) return IDS_TORVEX_PROJECT;
        return bScriptBased ? IDS_STANDARD_PROJECT : IDS_BASIC_PROJECT;
    case 2: return IDS_MERGE_MODULE_PROJECT;
    case 3: return IDS_SWIFT_PROJECT;
    default: return 0;
    }
}
}

void CProjectTesterTree::InitTree(CProjectTester* pOwner)
{
    m_pOwner = pOwner;
    if (m_bImageListCreated) return;
    m_bImageListCreated = true;
    const int nIcon = ScaleByDpi(16);
    m_imageList.Create(nIcon, nIcon, ILC_COLOR4 | ILC_MASK, 2, 0);
    m_imageList.AddResourceIcon(IDI_PROJECT);
    m_imageList.AddResourceIcon(IDI_FEATURE);
    SetImageList(m_imageList.GetSafeHandle(), TVSIL_NORMAL);
}

bool CProjectTesterTree::ReportIfFailedOrNull(HRESULT hr, const void* pResult, const char* pszText) const
{
    if (m_pOwner->ReportIfFailed(hr, pszText)) return true;
    if (pResult) return false;
    m_pOwner->AddError(pszText);
    return true;
}

void CProjectTesterTree::PopulateTree(IUnknown* pProject)
{
    const CRedrawOff redrawOff(*this);
    DeleteAllItems();
    m_bDepthLimitReported = false;
    m_nFeatureNodes = 0;
    m_bNodeLimitReported = false;
    if (!pProject) return;
    const CComPtr<IUnknown> spProjectObject(pProject);   // the tree's own reference

    CComPtr<IProject> spProject;
    if (m_pOwner->ReportIfFailed(spProjectObject.QueryInterface(IID_IProject, spProject),
                                 "Failure at:CProjectTesterTree::PopulateTree Function:QueryInterface For IProject"))
        return;
    if (!spProject) return;

    CComPtr<IProjectRoot> spProjectRoot;
    const HRESULT hrRoot = spProject->get_ProjectRoot(&spProjectRoot);
    if (!m_pOwner->ReportIfFailed(hrRoot, "Failure at:CProjectTesterTree::PopulateTree Function:PopulateTree") && spProjectRoot) {
        CComPtr<IProduct> spProduct;
        const HRESULT hrProduct = spProjectRoot->get_ActiveProduct(&spProduct);
        if (!ReportIfFailedOrNull(hrProduct, spProduct.Get(),
                                  "Failure at:CProjectTesterTree::PopulateTree Function:spProjectRoot->get_ActiveProduct")) {
            long nType = 0;
            if (m_pOwner->ReportIfFailed(spProjectRoot->get_Type(&nType),
                                         "Failure at:CProjectTesterTree::PopulateTree Function:spProjectRoot->get_Type"))
                return;   // no project node and no Close, as for get_ScriptBased
            CComPtr<IProjectInfo> spInfo;
            VARIANT_BOOL bScriptBased = VARIANT_FALSE;
            if (nType == 1) {
                spProject.QueryInterface(IID_IProjectInfo, spInfo);
                if (spInfo && m_pOwner->ReportIfFailed(spInfo->get_ScriptBased(&bScriptBased),
                                                       "Failure at:CProjectTesterTree::PopulateTree Function:spProjectRoot->get_ScriptBased"))
                    return;
            }
            const UINT nCaption = CaptionForType(nType, spInfo.Get(), bScriptBased);
            const HTREEITEM hProject = AddTreeItem(TVI_ROOT, nCaption ? LoadResourceString(nCaption) : CString());
            if (nType != 2) {
                CComPtr<IFeatures> spFeatures;
                const HRESULT hrFeatures = spProduct->get_Features(&spFeatures);
                if (!ReportIfFailedOrNull(hrFeatures, spFeatures.Get(),
                                          "Failure at:CProjectTesterTree::PopulateTree Function:spProduct->get_Features"))
                    AddFeaturesToTree(hProject, spFeatures.Get(), 1);
            }
            Expand(hProject, TVE_EXPAND);
        }
    }
    m_pOwner->ReportIfFailed(spProject->Close(), "Failure at:CProjectTesterTree::PopulateTree Function:spProject->Close");
}

void CProjectTesterTree::AddFeaturesToTree(HTREEITEM hParent, IFeatures* pFeatures, int nDepth)
{
    CLevelExpansion expansion(*this, hParent);
    CComResult result;
    CComPtr<IEnumVARIANT> spEnum;
    ClearErrorInfo();
    result = pFeatures->get__NewEnum(&spEnum);
    if (!spEnum) result = E_POINTER;   // a success without an enumerator cannot be walked
    for (;;) {
        CVariantHolder element;
        ULONG nFetched = 0;
        ClearErrorInfo();
        result = spEnum->Next(1, &element.m_var, &nFetched);
        if (nFetched == 0) break;
        if (nDepth > MAX_FEATURE_DEPTH) {
            // Deeper than any real project: a graph that loops or absurd
            // nesting. This level is left out; the walk goes on above it.
            if (!m_bDepthLimitReported)
                m_pOwner->AddError("Failure at:CProjectTesterTree::AddFeaturesToTree Function:depth limit");
            m_bDepthLimitReported = true;
            expansion.ReachedEnd();
            return;
        }

        // Every level on the way out of the cut keeps what it inserted open.
        if (m_nFeatureNodes >= MAX_FEATURE_NODES) {
            if (!m_bNodeLimitReported)
                m_pOwner->AddError("Failure at:CProjectTesterTree::AddFeaturesToTree Function:feature limit");
            m_bNodeLimitReported = true;
            expansion.ReachedEnd();
            return;
        }

        CComPtr<IFeature> spFeature;
        const VARTYPE vt = V_VT(&element.m_var);
        if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
            IUnknown* pItem = vt == VT_DISPATCH ? V_DISPATCH(&element.m_var) : V_UNKNOWN(&element.m_var);
            ClearErrorInfo();
            result = pItem ? pItem->QueryInterface(IID_IFeature, reinterpret_cast<void**>(&spFeature)) : E_POINTER;
            if (!spFeature) result = E_POINTER;
        } else {
            ClearErrorInfo();
            result = E_FAIL;
        }
        VariantClear(&element.m_var);

        CBstr bstrName;
        if (m_pOwner->ReportIfFailed(spFeature->get_Name(&bstrName),
                                     "Failure at:CProjectTesterTree::AddFeaturesToTree Function:spFeature->get_Name"))
            return;
        const HTREEITEM hItem = AddTreeItem(hParent, bstrName.ToAnsi());
        ++m_nFeatureNodes;

        CComPtr<IFeatures> spSubFeatures;
        const HRESULT hrSub = spFeature->get_SubFeatures(&spSubFeatures);
        if (ReportIfFailedOrNull(hrSub, spSubFeatures.Get(),
                                 "Failure at:CProjectTesterTree::AddFeaturesToTree Function:spFeature->get_SubFeatures"))
            return;
        AddFeaturesToTree(hItem, spSubFeatures.Get(), nDepth + 1);
    }
    expansion.ReachedEnd();
}

// The project node is expanded once its walk is done; a feature node is
// inserted expanded (see CLevelExpansion).
HTREEITEM CProjectTesterTree::AddTreeItem(HTREEITEM hParent, const CString& text) const
{
    const bool bProjectNode = hParent == TVI_ROOT;
    const int nImage = bProjectNode ? 0 : 1;
    return InsertItem(text, nImage, nImage, bProjectNode ? 0 : TVIS_EXPANDED, TVIS_EXPANDED, 0, hParent, TVI_FIRST);
}
