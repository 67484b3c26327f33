#include "projecttester/ProjectWalk.h"
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

// A level of the walk that does not reach its end (a failed call, a
// CComException) takes its parent's expansion back, since feature nodes are
// inserted expanded. A cut at a limit counts as an end: what was inserted
// down to the cut stays open.
class CLevelExpansion {
public:
    CLevelExpansion(CProjectTestSite& site, HTREEITEM hParent) : m_site(site), m_hParent(hParent) {}
    ~CLevelExpansion()
    {
        if (!m_bReachedEnd) m_site.CollapseNode(m_hParent);
    }
    CLevelExpansion(const CLevelExpansion&) = delete;
    CLevelExpansion& operator=(const CLevelExpansion&) = delete;
    void ReachedEnd() { m_bReachedEnd = true; }
private:
    CProjectTestSite& m_site;
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

void CProjectTestSite::PopulateTree(IUnknown* pProject)
{
    CProjectWalk(*this).PopulateTree(pProject);
}

bool CProjectTestSite::ReportIfFailed(HRESULT hr, const CString& strText)
{
    if (hr >= 0) return false;
    AddError(strText);
    return true;
}

bool CProjectWalk::ReportIfFailedOrNull(HRESULT hr, const void* pResult, const char* pszText)
{
    if (m_site.ReportIfFailed(hr, pszText)) return true;
    if (pResult) return false;
    m_site.AddError(pszText);
    return true;
}

void CProjectWalk::PopulateTree(IUnknown* pProject)
{
    m_site.DeleteAllNodes();
    m_bDepthLimitReported = false;
    m_nFeatureNodes = 0;
    m_bNodeLimitReported = false;
    if (!pProject) return;
    const CComPtr<IUnknown> spProjectObject(pProject);   // the tree's own reference

    CComPtr<IProject> spProject;
    if (m_site.ReportIfFailed(spProjectObject.QueryInterface(IID_IProject, spProject),
                                 "Failure at:CProjectTesterTree::PopulateTree Function:QueryInterface For IProject"))
        return;
    if (!spProject) return;

    CComPtr<IProjectRoot> spProjectRoot;
    const HRESULT hrRoot = spProject->get_ProjectRoot(&spProjectRoot);
    if (!m_site.ReportIfFailed(hrRoot, "Failure at:CProjectTesterTree::PopulateTree Function:PopulateTree") && spProjectRoot) {
        CComPtr<IProduct> spProduct;
        const HRESULT hrProduct = spProjectRoot->get_ActiveProduct(&spProduct);
        if (!ReportIfFailedOrNull(hrProduct, spProduct.Get(),
                                  "Failure at:CProjectTesterTree::PopulateTree Function:spProjectRoot->get_ActiveProduct")) {
            long nType = 0;
            if (m_site.ReportIfFailed(spProjectRoot->get_Type(&nType),
                                         "Failure at:CProjectTesterTree::PopulateTree Function:spProjectRoot->get_Type"))
                return;   // no project node and no Close, as for get_ScriptBased
            CComPtr<IProjectInfo> spInfo;
            VARIANT_BOOL bScriptBased = VARIANT_FALSE;
            if (nType == 1) {
                spProject.QueryInterface(IID_IProjectInfo, spInfo);
                if (spInfo && m_site.ReportIfFailed(spInfo->get_ScriptBased(&bScriptBased),
                                                       "Failure at:CProjectTesterTree::PopulateTree Function:spProjectRoot->get_ScriptBased"))
                    return;
            }
            const UINT nCaption = CaptionForType(nType, spInfo.Get(), bScriptBased);
            const HTREEITEM hProject = m_site.AddTreeItem(TVI_ROOT, nCaption ? LoadResourceString(nCaption) : CString());
            if (nType != 2) {
                CComPtr<IFeatures> spFeatures;
                const HRESULT hrFeatures = spProduct->get_Features(&spFeatures);
                if (!ReportIfFailedOrNull(hrFeatures, spFeatures.Get(),
                                          "Failure at:CProjectTesterTree::PopulateTree Function:spProduct->get_Features"))
                    AddFeaturesToTree(hProject, spFeatures.Get(), 1);
            }
            m_site.ExpandNode(hProject);
        }
    }
    m_site.ReportIfFailed(spProject->Close(), "Failure at:CProjectTesterTree::PopulateTree Function:spProject->Close");
}

void CProjectWalk::AddFeaturesToTree(HTREEITEM hParent, IFeatures* pFeatures, int nDepth)
{
    CLevelExpansion expansion(m_site, hParent);
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
                m_site.AddError("Failure at:CProjectTesterTree::AddFeaturesToTree Function:depth limit");
            m_bDepthLimitReported = true;
            expansion.ReachedEnd();
            return;
        }

        // Every level on the way out of the cut keeps what it inserted open.
        if (m_nFeatureNodes >= MAX_FEATURE_NODES) {
            if (!m_bNodeLimitReported)
                m_site.AddError("Failure at:CProjectTesterTree::AddFeaturesToTree Function:feature limit");
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
        if (m_site.ReportIfFailed(spFeature->get_Name(&bstrName),
                                     "Failure at:CProjectTesterTree::AddFeaturesToTree Function:spFeature->get_Name"))
            return;
        const HTREEITEM hItem = m_site.AddTreeItem(hParent, bstrName.ToAnsi());
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
