#include "engine/project/ProjectWalk.h"
#include "engine/project/ComResult.h"
#include "framework/CBstr.h"
#include "framework/CComPtr.h"
#include "framework/COleMessageFilter.h"
#include "res/resource.h"
#include <Automation.h>
#include <optional>

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
    CLevelExpansion(CProjectRunSink& sink, CProjectRunSink::NodeId parent) : m_sink(sink), m_parent(parent) {}
    ~CLevelExpansion()
    {
        if (!m_bReachedEnd) m_sink.CollapseNode(m_parent);
    }
    CLevelExpansion(const CLevelExpansion&) = delete;
    CLevelExpansion& operator=(const CLevelExpansion&) = delete;
    void ReachedEnd() { m_bReachedEnd = true; }
private:
    CProjectRunSink& m_sink;
    CProjectRunSink::NodeId m_parent;
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

void CProjectRunSink::PopulateTree(IUnknown* pProject)
{
    CProjectWalk(*this).PopulateTree(pProject);
}

bool CProjectRunSink::ReportIfFailed(HRESULT hr, const CString& strText)
{
    if (hr >= 0) return false;
    if (IsStopRequested()) NoteStopped();
    else AddError(strText);
    return true;
}

bool CProjectWalk::ReportIfFailedOrNull(HRESULT hr, const void* pResult, const char* pszText)
{
    if (m_sink.ReportIfFailed(hr, pszText)) return true;
    if (pResult) return false;
    m_sink.AddError(pszText);
    return true;
}

void CProjectWalk::PopulateTree(IUnknown* pProject)
{
    m_sink.DeleteAllNodes();
    if (m_sink.WasStopped()) return;
    m_bDepthLimitReported = false;
    m_nFeatureNodes = 0;
    m_bNodeLimitReported = false;
    if (!pProject) return;
    // Begun before Close; declared first, so it also covers the releases.
    std::optional<COleMessageFilter::CCleanup> cleanup;
    const CComPtr<IUnknown> spProjectObject(pProject);   // the tree's own reference

    CComPtr<IProject> spProject;
    if (m_sink.ReportIfFailed(spProjectObject.QueryInterface(IID_IProject, spProject),
                                 "Failure at:CProjectTesterTree::PopulateTree Function:QueryInterface For IProject"))
        return;
    if (!spProject) return;

    CComPtr<IProjectRoot> spProjectRoot;
    const HRESULT hrRoot = spProject->get_ProjectRoot(&spProjectRoot);
    if (!m_sink.ReportIfFailed(hrRoot, "Failure at:CProjectTesterTree::PopulateTree Function:PopulateTree") && spProjectRoot) {
        CComPtr<IProduct> spProduct;
        const HRESULT hrProduct = spProjectRoot->get_ActiveProduct(&spProduct);
        if (!ReportIfFailedOrNull(hrProduct, spProduct.Get(),
                                  "Failure at:CProjectTesterTree::PopulateTree Function:spProjectRoot->get_ActiveProduct")) {
            long nType = 0;
            if (m_sink.ReportIfFailed(spProjectRoot->get_Type(&nType),
                                         "Failure at:CProjectTesterTree::PopulateTree Function:spProjectRoot->get_Type"))
                return;   // no project node and no Close, as for get_ScriptBased
            CComPtr<IProjectInfo> spInfo;
            VARIANT_BOOL bScriptBased = VARIANT_FALSE;
            if (nType == 1) {
                spProject.QueryInterface(IID_IProjectInfo, spInfo);
                if (spInfo && m_sink.ReportIfFailed(spInfo->get_ScriptBased(&bScriptBased),
                                                       "Failure at:CProjectTesterTree::PopulateTree Function:spProjectRoot->get_ScriptBased"))
                    return;
            }
            const UINT nCaption = CaptionForType(nType, spInfo.Get(), bScriptBased);
            const CProjectRunSink::NodeId project = m_sink.AddNode(CProjectRunSink::ROOT, nCaption ? LoadResourceString(nCaption) : CString());
            if (nType != 2) {
                CComPtr<IFeatures> spFeatures;
                const HRESULT hrFeatures = spProduct->get_Features(&spFeatures);
                if (!ReportIfFailedOrNull(hrFeatures, spFeatures.Get(),
                                          "Failure at:CProjectTesterTree::PopulateTree Function:spProduct->get_Features"))
                    AddFeaturesToTree(project, spFeatures.Get(), 1);
            }
            m_sink.ExpandNode(project);
        }
    }
    cleanup.emplace();
    m_sink.ReportIfFailed(spProject->Close(), "Failure at:CProjectTesterTree::PopulateTree Function:spProject->Close");
}

void CProjectWalk::AddFeaturesToTree(CProjectRunSink::NodeId parent, IFeatures* pFeatures, int nDepth)
{
    CLevelExpansion expansion(m_sink, parent);
    CComResult result;
    CComPtr<IEnumVARIANT> spEnum;
    ClearErrorInfo();
    result = pFeatures->get__NewEnum(&spEnum);
    if (!spEnum) result = E_POINTER;   // a success without an enumerator cannot be walked
    for (;;) {
        if (m_sink.WasStopped() || m_sink.IsStopRequested()) {
            m_sink.NoteStopped();
            return;
        }
        CVariantHolder element;
        ULONG nFetched = 0;
        ClearErrorInfo();
        result = spEnum->Next(1, &element.m_var, &nFetched);
        if (nFetched == 0) break;
        if (nDepth > MAX_FEATURE_DEPTH) {
            // Deeper than any real project: a graph that loops or absurd
            // nesting. This level is left out; the walk goes on above it.
            if (!m_bDepthLimitReported)
                m_sink.AddError("Failure at:CProjectTesterTree::AddFeaturesToTree Function:depth limit");
            m_bDepthLimitReported = true;
            expansion.ReachedEnd();
            return;
        }

        // Every level on the way out of the cut keeps what it inserted open.
        if (m_nFeatureNodes >= MAX_FEATURE_NODES) {
            if (!m_bNodeLimitReported)
                m_sink.AddError("Failure at:CProjectTesterTree::AddFeaturesToTree Function:feature limit");
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
        if (m_sink.ReportIfFailed(spFeature->get_Name(&bstrName),
                                     "Failure at:CProjectTesterTree::AddFeaturesToTree Function:spFeature->get_Name"))
            return;
        const CProjectRunSink::NodeId item = m_sink.AddNode(parent, bstrName.ToAnsi());
        ++m_nFeatureNodes;

        CComPtr<IFeatures> spSubFeatures;
        const HRESULT hrSub = spFeature->get_SubFeatures(&spSubFeatures);
        if (ReportIfFailedOrNull(hrSub, spSubFeatures.Get(),
                                 "Failure at:CProjectTesterTree::AddFeaturesToTree Function:spFeature->get_SubFeatures"))
            return;
        AddFeaturesToTree(item, spSubFeatures.Get(), nDepth + 1);
    }
    expansion.ReachedEnd();
}
