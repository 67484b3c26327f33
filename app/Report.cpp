#include "app/Report.h"
#include "app/SystemServices.h"
#include "comtester/ComponentList.h"
#include "comtester/Diagnosis.h"
#include "comtester/Verification.h"
#include "projecttester/ProjectTest.h"
#include "framework/CException.h"
#include "res/resource.h"
#include <algorithm>

namespace {
// The verification's view of the machine, with the System folder the report
// was given instead of the page's folder box.
class CReportSite : public CVerificationSite {
public:
    explicit CReportSite(const CString& strSystemFolder) : m_strSystemFolder(strSystemFolder) {}
    CString GetSystemFolder() const override { return m_strSystemFolder; }

private:
    CString m_strSystemFolder;
};

// Records what a project test would show in the tree: the project node's
// caption and how many features stand under it.
class CProjectRecorder : public CProjectTestSite {
public:
    explicit CProjectRecorder(ReportProject& project) : m_project(project) {}
    void AddError(const CString& strText) override { m_project.errors.push_back(strText); }
    void DeleteAllNodes() override
    {
        m_project.strCaption.Empty();
        m_project.nFeatures = 0;
    }
    HTREEITEM AddTreeItem(HTREEITEM hParent, const CString& strText) override
    {
        if (hParent == TVI_ROOT) m_project.strCaption = strText;
        else ++m_project.nFeatures;
        return reinterpret_cast<HTREEITEM>(static_cast<INT_PTR>(++m_nNodes));
    }
    void ExpandNode(HTREEITEM) override {}
    void CollapseNode(HTREEITEM) override {}

private:
    ReportProject& m_project;
    INT_PTR m_nNodes = 0;
};

ReportProject TestProject(const CString& strPath)
{
    ReportProject project;
    char szFull[MAX_PATH] = "";
    const DWORD nFull = GetFullPathNameA(strPath, MAX_PATH, szFull, nullptr);
    project.strPath = nFull > 0 && nFull < MAX_PATH ? CString(szFull) : strPath;

    // The page's thread is an apartment from start-up; this one becomes one
    // for the test only.
    const HRESULT hrInit = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CProjectRecorder recorder(project);
    try {
        RunProjectTest(recorder, project.strPath);
    } catch (CException* e) {
        // In the sheet this is the framework's message box; here it is a line.
        char szMessage[512] = "";
        e->GetErrorMessage(szMessage, sizeof szMessage);
        e->Delete();
        CString strLine;
        strLine.Format(LoadResourceString(IDS_REPORT_ENUMERATION_FAILED), szMessage);
        project.errors.push_back(strLine);
    }
    if (SUCCEEDED(hrInit)) CoUninitialize();
    return project;
}

bool LessInDisplayOrder(const std::unique_ptr<ComponentItem>& a, const std::unique_ptr<ComponentItem>& b)
{
    // The page's first sort: file name, ascending.
    return CComponentList::CompareItems(reinterpret_cast<LPARAM>(a.get()), reinterpret_cast<LPARAM>(b.get()), 0) < 0;
}
}

int ReportContent::ExitCode() const
{
    int nCode = REPORT_ALL_SOUND;
    if (!problems.empty()) nCode |= REPORT_ROW_PROBLEMS;
    if (project && !project->errors.empty()) nCode |= REPORT_PROJECT_FAILURES;
    return nCode;
}

ReportContent GatherReport(const CString& strSystemFolder, const std::optional<CString>& project)
{
    const CReportSite site(strSystemFolder);
    std::vector<std::unique_ptr<ComponentItem>> records = MakeCatalogueRecords();
    std::stable_sort(records.begin(), records.end(), LessInDisplayOrder);
    std::vector<ComponentItem*> order;
    for (const auto& pItem : records) order.push_back(pItem.get());

    // The two buttons, in the order a user presses them.
    VerifyRegistration(order, site);
    VerifyFiles(order, site);

    ReportContent content;
    content.strSummary = GetSystemSummary();
    content.environment = GatherEnvironment(strSystemFolder, site.GetCommonFilesFolder());
    const CString strYes = LoadResourceString(IDS_YES);
    const CImportResolver resolver;
    for (const ComponentItem* pItem : order) {
        CString cells[6];
        GetRecordCells(*pItem, cells);
        content.rows.push_back({cells[0], cells[1], cells[2], cells[3], cells[4], cells[5]});
        ReportProblem problem;
        problem.strFileName = pItem->strFileName;
        problem.strProgID = pItem->strProgID;
        problem.bPresent = IsPresent(*pItem);
        problem.bRegistered = pItem->strRegistered == strYes;
        // A row without a ProgID has nothing to register: its presence alone counts.
        if (problem.bPresent && (problem.bRegistered || problem.strProgID.IsEmpty())) continue;
        problem.strVerdict = RecordVerdict(*pItem, resolver);
        content.problems.push_back(problem);
    }
    if (project) content.project = TestProject(*project);
    return content;
}
