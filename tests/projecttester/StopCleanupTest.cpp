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
