// The report's project test: the same retries as the sheet for a busy local
// server, one line for a failed enumeration, and a relative path made full.
#include "AutomationServer.h"
#include "report/Report.h"
#include "engine/project/ProjectRun.h"
#include "framework/COleMessageFilter.h"
#include <gtest/gtest.h>
#include <atomic>
#include <thread>

namespace {
ReportProject ReportOf(const std::string& projectPath)
{
    CTempDir empty;
    const ReportContent content = GatherReport(CString(empty.Path().c_str()), CString(projectPath.c_str()));
    return content.project.value_or(ReportProject());
}
}

// Takes a project run's findings and keeps none.
class CNullSink : public CProjectRunSink {
public:
    void AddError(const CString&) override {}
    void DeleteAllNodes() override {}
    NodeId AddNode(NodeId, const CString&) override { return ++m_nNodes; }
    void ExpandNode(NodeId) override {}
    void CollapseNode(NodeId) override {}
private:
    NodeId m_nNodes = ROOT;
};

// Counts how often COM consults it while a call waits.
class CCountingFilter : public COleMessageFilter {
public:
    BOOL OnMessagePending(const MSG*) override
    {
        ++nConsulted;
        return FALSE;
    }
    int nConsulted = 0;
};

TEST(ReportProject, CallsALocalServerUnderAMessageFilterOfItsOwnAsTheSheetDoes)
{
    CLocalServerRegistration server;
    ASSERT_TRUE(server.Registered());
    CTempDir dir;
    const std::string path = dir.MakeFile("slow.kvp", "type 3\nfeature Remote\nslow get_Type 1500\n");
    CCountingFilter callers;
    ASSERT_TRUE(callers.Register());
    // Messages keep arriving while the calls wait.
    const DWORD dwThread = GetCurrentThreadId();
    std::atomic<bool> bPosting{true};
    std::thread poster([&] {
        while (bPosting) {
            PostThreadMessageA(dwThread, WM_NULL, 0, 0);
            Sleep(50);
        }
    });
    const ReportProject project = ReportOf(path);
    EXPECT_TRUE(project.errors.empty());
    EXPECT_EQ(1, project.nFeatures);
    // The report's own filter, with the sheet's retries for a busy server,
    // answered while the slow call waited...
    EXPECT_EQ(0, callers.nConsulted);
    // ... and the caller's is back in place: the same call made directly
    // consults it.
    CNullSink sink;
    RunProjectTest(sink, path.c_str());
    EXPECT_GT(callers.nConsulted, 0);
    bPosting = false;
    poster.join();
    callers.Revoke();
}

TEST(ReportProject, AFailedEnumerationIsOneLineAndARelativePathIsMadeFull)
{
    CInprocServerRegistration server;
    ASSERT_TRUE(server.Registered());
    // A folder whose name passes MAX_PATH bytes in UTF-8 but not in characters.
    CTempDir dir;
    const std::string folder = Repeat("\xe6\xb5\x8b", 70);   // 70 CJK characters, 210 bytes
    dir.MakeFile(folder + "\\faults.kvp", "type 3\nfeature A\nfail get__NewEnum 0x80004005\n");
    char szSaved[MAX_PATH * 4] = "";
    GetCurrentDirectoryA(sizeof szSaved, szSaved);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.Path().c_str()));
    const ReportProject project = ReportOf(folder + "\\faults.kvp");
    SetCurrentDirectoryA(szSaved);

    EXPECT_EQ(CString((dir / folder + "\\faults.kvp").c_str()), project.strPath);
    ASSERT_EQ(1u, project.errors.size());
    const std::string line = project.errors[0].Str();
    EXPECT_EQ(0u, line.find("The feature enumeration failed: ")) << line;
    EXPECT_EQ(std::string::npos, line.find_first_of("\r\n")) << line;
    std::string description = SystemText(E_FAIL);
    while (!description.empty() && (description.back() == '\r' || description.back() == '\n')) description.pop_back();
    EXPECT_NE(std::string::npos, line.find(description)) << line;
}
