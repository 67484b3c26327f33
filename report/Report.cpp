#include "report/Report.h"
#include "engine/components/ClassActivation.h"
#include "engine/components/ToolLocations.h"
#include "engine/components/Verification.h"
#include "engine/diagnosis/Diagnosis.h"
#include "engine/diagnosis/DiagnosisText.h"
#include "engine/project/ProjectRun.h"
#include "system/Paths.h"
#include "system/SystemInfo.h"
#include "system/SystemMessage.h"
#include "framework/CException.h"
#include "framework/COleMessageFilter.h"
#include "res/resource.h"
#include <algorithm>

namespace {
// Records what a project test would show in the tree: the project node's
// caption and how many features stand under it.
class CProjectRecorder : public CProjectRunSink {
public:
    explicit CProjectRecorder(ReportProject& project) : m_project(project) {}
    void AddError(const CString& strText) override { m_project.errors.push_back(strText); }
    void DeleteAllNodes() override
    {
        m_project.strCaption.Empty();
        m_project.nFeatures = 0;
    }
    NodeId AddNode(NodeId parent, const CString& strText) override
    {
        if (parent == ROOT) m_project.strCaption = strText;
        else ++m_project.nFeatures;
        return ++m_nNodes;
    }
    void ExpandNode(NodeId) override {}
    void CollapseNode(NodeId) override {}

private:
    ReportProject& m_project;
    NodeId m_nNodes = ROOT;
};

ReportProject TestProject(const CString& strPath)
{
    ReportProject project;
    const CString strFull = FullPathName(strPath);
    project.strPath = strFull.IsEmpty() ? strPath : strFull;

    // The page's thread is an apartment from start-up; this one becomes one
    // for the test only, with a message filter as the sheet's, so that a busy
    // server is given the same time before a call fails.
    const HRESULT hrInit = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    COleMessageFilter filter;
    if (SUCCEEDED(hrInit)) filter.Register();
    CProjectRecorder recorder(project);
    try {
        RunProjectTest(recorder, project.strPath);
    } catch (CException* e) {
        // In the sheet this is the framework's message box; here it is a line.
        char szMessage[1024] = "";
        e->GetErrorMessage(szMessage, sizeof szMessage);
        e->Delete();
        project.errors.push_back(FormatId(IDS_REPORT_ENUMERATION_FAILED, OneLineText(szMessage).GetString()));
    }
    filter.Revoke();
    if (SUCCEEDED(hrInit)) CoUninitialize();
    return project;
}
}

int ReportContent::ExitCode() const
{
    if (nExitCode) return *nExitCode;
    int nCode = REPORT_ALL_SOUND;
    if (!problems.empty()) nCode |= REPORT_ROW_PROBLEMS;
    if (project && !project->errors.empty()) nCode |= REPORT_PROJECT_FAILURES;
    return nCode;
}

void CreateCatalogueClasses(const std::vector<std::unique_ptr<ComponentItem>>& records, const VerificationFolders& folders,
                            DWORD dwLimitMs)
{
    std::vector<ComponentItem*> order;
    for (const auto& pItem : records) order.push_back(pItem.get());
    ActivationOptions options;
    options.dwTimeLimitMs = dwLimitMs;
    CWorkProgress quiet;
    CreateRecordClasses(order, folders, quiet, options);
}

ReportContent GatherReport(const CString& strSystemFolder, const std::optional<CString>& project, DWORD dwActivationLimitMs)
{
    const VerificationFolders folders = MachineFolders(strSystemFolder);
    const std::vector<std::unique_ptr<ComponentItem>> records = VerifiedCatalogue(folders);
    if (dwActivationLimitMs) CreateCatalogueClasses(records, folders, dwActivationLimitMs);

    ReportContent content;
    content.strSummary = GetSystemSummary();
    content.environment = GatherEnvironment(strSystemFolder, folders.strCommonFilesFolder);
    const CString strYes = LoadResourceString(IDS_YES);
    const CImportResolver resolver;
    for (const auto& pItem : records) {
        CString cells[6];
        GetRecordCells(*pItem, cells);
        content.rows.push_back({cells[0], cells[1], cells[2], cells[3], cells[4], cells[5]});
        content.bActivated = dwActivationLimitMs != 0;
        if (content.bActivated) content.activations.push_back(pItem->lastActivation);
        ReportProblem problem;
        problem.strFileName = pItem->strFileName;
        problem.strProgID = pItem->strProgID;
        problem.bPresent = IsPresent(*pItem);
        problem.bRegistered = pItem->strRegistered == strYes;
        // A row without a ProgID has nothing to register: its presence alone counts.
        if (problem.bPresent && (problem.bRegistered || problem.strProgID.IsEmpty()) && !pItem->lastActivation.Failed()) continue;
        problem.strVerdict = RecordVerdict(*pItem, resolver);
        content.problems.push_back(problem);
    }
    if (project) content.project = TestProject(*project);
    return content;
}
