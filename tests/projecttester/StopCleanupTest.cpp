// A stop cancels the call it interrupted and nothing after it: closing the
// project and the last releases reach the server, so the server ends.
#include "AutomationServer.h"
#include "engine/project/ProjectRunSink.h"
#include "framework/COleMessageFilter.h"
#include "res/resource.h"
#include <Automation.h>
#include <gtest/gtest.h>
#include <thread>

namespace {
// A filter whose stop was asked for and stays asked for.
class CStoppedFilter : public COleMessageFilter {
public:
    bool CancelPendingCall() override { return true; }
};

// A sink whose user has asked to stop.
class CStoppedSink : public CProjectRunSink {
public:
    void AddError(const CString& strText) override { errors.push_back(strText.GetString()); }
    void DeleteAllNodes() override {}
    NodeId AddNode(NodeId, const CString&) override { return 1; }
    void ExpandNode(NodeId) override {}
    void CollapseNode(NodeId) override {}
    bool IsStopRequested() override { return true; }
    std::vector<std::string> errors;
};

#define RESERVED(n) STDMETHODIMP Reserved##n() override { return E_NOTIMPL; }
// A project whose root cannot be read (as when the stop cancelled that call);
// it notes what the filter would answer COM during Close and the releases.
class CNotingProject : public IProject {
public:
    explicit CNotingProject(COleMessageFilter& filter) : m_filter(filter) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IProject)) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IProject*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_nRefs; }
    STDMETHODIMP_(ULONG) Release() override
    {
        ++nReleases;
        if (m_filter.ShouldCancelPendingCall()) bCancelAtARelease = true;
        return --m_nRefs;
    }
    RESERVED(3) RESERVED(4) RESERVED(5) RESERVED(6) RESERVED(7) RESERVED(8)
    RESERVED(9) RESERVED(10) RESERVED(11) RESERVED(12) RESERVED(13)
    STDMETHODIMP get_ProjectRoot(IProjectRoot** ppRoot) override
    {
        *ppRoot = nullptr;
        bCancelDuringWalk = m_filter.ShouldCancelPendingCall();
        return RPC_E_CALL_CANCELED;
    }
    STDMETHODIMP Close() override
    {
        ++nCloses;
        bCancelAtClose = m_filter.ShouldCancelPendingCall();
        return S_OK;
    }
    int nCloses = 0;
    bool bCancelDuringWalk = false;
    bool bCancelAtClose = true;
    int nReleases = 0;
    bool bCancelAtARelease = false;
private:
    COleMessageFilter& m_filter;
    ULONG m_nRefs = 1;
};
#undef RESERVED
}

TEST(StopCleanup, TheFilterCancelsUntilTheCleanUpBeginsOnItsThreadAndAgainAfterIt)
{
    CStoppedFilter filter;
    EXPECT_TRUE(filter.ShouldCancelPendingCall());
    {
        const COleMessageFilter::CCleanup cleanup;
        EXPECT_FALSE(filter.ShouldCancelPendingCall());
        {
            const COleMessageFilter::CCleanup nested;
            EXPECT_FALSE(filter.ShouldCancelPendingCall());
        }
        EXPECT_FALSE(filter.ShouldCancelPendingCall());
        // Another thread's calls are not this clean-up's.
        bool bOtherThread = false;
        std::thread([&] { bOtherThread = filter.ShouldCancelPendingCall(); }).join();
        EXPECT_TRUE(bOtherThread);
    }
    EXPECT_TRUE(filter.ShouldCancelPendingCall());
    // A filter with no stop never cancels.
    COleMessageFilter plain;
    EXPECT_FALSE(plain.ShouldCancelPendingCall());
}

TEST(StopCleanup, AStoppedWalkClosesTheProjectAndReleasesItOnAFilterThatDoesNotCancel)
{
    CStoppedFilter filter;
    CNotingProject project(filter);
    CStoppedSink sink;
    sink.PopulateTree(&project);
    EXPECT_TRUE(sink.WasStopped());
    EXPECT_TRUE(sink.errors.empty());
    EXPECT_TRUE(project.bCancelDuringWalk);
    EXPECT_EQ(1, project.nCloses);
    EXPECT_FALSE(project.bCancelAtClose);
    EXPECT_EQ(2, project.nReleases);   // the walk's own reference and its IProject
    EXPECT_FALSE(project.bCancelAtARelease);
    // The clean-up ended with the walk.
    EXPECT_TRUE(filter.ShouldCancelPendingCall());
}

TEST(StopCleanup, AStoppedTestProjectLeavesNoServerRunningAndClosesTheProject)
{
    CLocalServerRegistration server;
    ASSERT_TRUE(server.Registered());
    CTempDir dir;
    const std::string logPath = dir / "calls.log";
    const CScopedEnv log("TORVEX_APPSERVICES_LOG", logPath);
    const CScopedEnv logCalls("TORVEX_APPSERVICES_LOG_CALLS", "Close");
    // Alpha's name takes four seconds; the user presses Esc meanwhile.
    const std::string path = dir.MakeFile("slow.kvp", "type 3\nfeature Alpha\nfeature Beta\nslow get_Name 4000 Alpha\n");
    const PageResult result = RunProjectPage([&](HWND hPage, std::vector<MessageBoxSeen>& boxes) {
        HWND hSheet = GetParent(hPage);
        std::thread user([&] {
            WaitFor([] { return CountProcesses("TorvexAppServicesServer.exe") > 0; });
            Sleep(1500);
            PostMessageA(hSheet, WM_KEYDOWN, VK_ESCAPE, 0);
        });
        TestProject(hPage, path, boxes);
        user.join();
    });
    ASSERT_EQ(1u, result.errors.size()) << result.errors.front();
    EXPECT_EQ(LoadResourceString(IDS_PROJECT_STOPPED).Str(), result.errors.back());
    EXPECT_EQ("Close\r\n", ReadFileText(logPath));
    // The server ends once its last object is released.
    EXPECT_TRUE(WaitFor([] { return CountProcesses("TorvexAppServicesServer.exe") == 0; }));
}
