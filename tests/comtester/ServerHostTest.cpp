// No server runs inside the utility: servers that hang, end their process,
// write without end, print braces, use COM or fault in their window
// procedure run in helper processes of their bitness, one per bitness for a
// press, replaced after one ends; the press gives each its true verdict and
// goes on, and leaves nothing running.
#include "PageDriver.h"
#include "common/HostSamples.h"
#include "common/TestSupport.h"
#include "engine/components/Catalogue.h"
#include "engine/components/ServerHost.h"
#include "engine/components/ServerProcess.h"
#include "engine/components/Sibling.h"
#include "engine/diagnosis/Diagnosis.h"
#include "res/resource.h"
#include <gtest/gtest.h>
#include <atomic>
#include <set>
#include <thread>

using namespace page_driver;

using namespace host_samples;

namespace {
const int COL_REGISTERED = 2;

// The outcome's verdict, as the row, its details and the report give it.
void ExpectTruthful(Outcome nOutcome, const RegistrationResult& result, const std::string& verdict, const std::string& what)
{
    switch (nOutcome) {
    case Outcome::Registers:
        EXPECT_EQ(S_OK, result.hr) << what;
        EXPECT_EQ(STAGE_ENTRY_RETURNED, result.nStage) << what;
        break;
    case Outcome::EndsHelper:
        EXPECT_TRUE(result.bHostEnded) << what;
        EXPECT_EQ("The server ended the helper process (exit code 0)", verdict) << what;
        break;
    case Outcome::FaultsOrEndsHelper:
        // Windows ends the process (no exception crosses a kernel callback);
        // Wine lets the fault reach the guard.
        EXPECT_TRUE(verdict == "Crashed in DllRegisterServer" || verdict.find("The server ended the helper process (exit code ") == 0)
            << what << ": " << verdict;
        break;
    case Outcome::NeverEnds:
        EXPECT_TRUE(result.bStopped) << what;
        EXPECT_EQ(0u, verdict.find("Stopped after ")) << what << ": " << verdict;
        break;
    }
}

class ServerHostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (GetFileAttributesA(SiblingProgramPath()) == INVALID_FILE_ATTRIBUTES)
            GTEST_SKIP() << "no sibling beside the test program: build both (make both)";
    }
    CTempDir m_dir;
};
} // namespace

TEST_F(ServerHostTest, EachMisbehaviourGetsItsVerdictInHelpersOfBothBitnessesAndThePressGoesOn)
{
    CServerCopies copies(m_dir);
    std::map<std::string, Ran> servers;
    int nStarts = 0;
    {
        CServerHosts hosts;
        RunOptions options;
        options.dwTimeLimitMs = 2000;
        options.pHosts = &hosts;
        const CImportResolver resolver;
        for (const HostSample& sample : SAMPLES) {
            for (const bool bOther : {false, true}) {
                const std::string name = SampleFile(sample, bOther);
                const std::string path = copies.Add(name, std::string(bOther ? "Other\\" : "Own\\") + name);
                servers[name] = {sample.nOutcome, bOther};
                RegistrationResult result;
                const bool bResult = RegisterServerFile(path.c_str(), true, &result, options);
                EXPECT_EQ(sample.nOutcome == Outcome::Registers, bResult) << name;
                EXPECT_EQ(bOther ? ROUTE_SIBLING : ROUTE_THIS_PROGRAM, result.nRoute) << name;
                const CString verdict = ComponentVerdict(DiagnoseComponent(name.c_str(), "", path.c_str(), result, resolver));
                ExpectTruthful(sample.nOutcome, result, verdict.Str(), name);
            }
        }
        // The next server after all of them still registers, in each bitness.
        for (const char* good : {"ForgeSampleServer.dll", "SampleOtherBitness.dll"})
            EXPECT_TRUE(RegisterServerFile(copies.Add(good, std::string("Good\\") + good).c_str(), true, nullptr, options)) << good;
        nStarts = hosts.Starts();
    }
    // The good servers leave no note: each ran in the helper that replaced
    // the one ended last.
    const size_t nHelpers = ExpectHelpersKeptAndReplaced(m_dir / "Own\\host-pids.txt", servers) +
                            ExpectHelpersKeptAndReplaced(m_dir / "Other\\host-pids.txt", servers);
    EXPECT_EQ(nHelpers + 2, static_cast<size_t>(nStarts)) << "a helper started for nothing";
    EXPECT_TRUE(WaitFor(NoHelperLeft, 10)) << "a helper was left running";
}

TEST_F(ServerHostTest, RegisterSelectedLivesThroughEveryMisbehaviourInOnePress)
{
    const std::string system = m_dir.MakeDir("Tools\\System");
    CServerCopies copies(m_dir);
    std::map<std::string, Ran> servers;
    std::vector<std::string> rows;
    for (const HostSample& sample : SAMPLES) {
        for (const bool bOther : {false, true}) {
            const char* pszAs = bOther ? sample.pszOtherAs : sample.pszOwnAs;
            copies.Add(SampleFile(sample, bOther), std::string("Tools\\System\\") + pszAs);
            servers[pszAs] = {sample.nOutcome, bOther};
            rows.push_back(pszAs);
        }
    }
    CScopedRegValue noCommonFiles(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir",
                                  m_dir / "Common");

    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 1);
        HWND hList = ListOf(hPage);
        SetFolderBox(hPage, system);
        SelectRows(hList, rows);
        // The user stops, once each, the servers that never end, when the
        // prompt says the sheet waits for them.
        std::atomic<bool> bPressing{true};
        std::thread user([&] {
            std::set<std::string> stopped;
            while (bPressing) {
                Sleep(200);
                HWND hPrompt = FindWindowA("#32770", "Still working");
                char szText[512] = "";
                if (!hPrompt || !GetDlgItemTextA(hPrompt, IDC_STOP_TEXT, szText, sizeof szText)) continue;
                for (const auto& [name, ran] : servers) {
                    if (ran.nOutcome != Outcome::NeverEnds || stopped.count(name) ||
                        std::string(szText).find("Waiting for " + name + " (") != 0)
                        continue;
                    stopped.insert(name);
                    PostMessageA(GetDlgItem(hPrompt, IDC_STOP), BM_CLICK, 0, 0);
                }
            }
        });
        ClickButton(hPage, IDC_REGISTER_SELECTED);
        bPressing = false;
        user.join();

        for (const std::string& name : rows) {
            const int row = FindRow(hList, name);
            const std::string tip = InfoTip(hPage, hList, row, COL_REGISTERED);
            const Outcome nOutcome = servers[name].nOutcome;
            EXPECT_EQ(nOutcome == Outcome::Registers ? "Yes" : "No", Cell(hList, row, COL_REGISTERED)) << name << ": " << tip;
            if (nOutcome == Outcome::EndsHelper) {
                EXPECT_EQ(0u, tip.find("The server ended the helper process (exit code 0)")) << tip;
            } else if (nOutcome == Outcome::NeverEnds) {
                EXPECT_EQ(0u, tip.find("Stopped after ")) << tip;
            }
        }
    });
    ExpectHelpersKeptAndReplaced(system + "\\host-pids.txt", servers);
    EXPECT_TRUE(WaitFor(NoHelperLeft, 10)) << "a helper was left running";
}

TEST_F(ServerHostTest, OneShotSwitchInitialisesComAndAServerFindsItsDllsInItsOwnFolder)
{
    for (const char* sample : {"SampleHostCom.dll", "SampleOtherCom.dll"}) {
        const std::string path = m_dir.CopyIn(TestProgramFolder() + "\\" + sample, std::string("OneShot\\") + sample);
        const bool bOwn = std::string(sample).find("Host") != std::string::npos;
        const std::string program = bOwn ? OwnProgramPath() : SiblingProgramPath().Str();
        const ProcessOutput run = RunProcess("\"" + program + "\" /register \"" + path + "\"");
        EXPECT_EQ(0u, run.exitCode) << sample << ": " << run.out;
        EXPECT_NE(std::string::npos, run.out.find("\"result\": true")) << run.out;
        EXPECT_TRUE(RegisterServerFile(path.c_str(), false)) << sample;
    }

    // Its import sits beside it, nowhere else: the helper loads it from there.
    const std::string server = m_dir.CopyIn(TestProgramFolder() + "\\SampleMissingDep.dll", "Dep\\SampleMissingDep.dll");
    m_dir.CopyIn(TestProgramFolder() + "\\..\\samples\\servers\\absent\\ForgeAbsentHelper.dll", "Dep\\ForgeAbsentHelper.dll");
    RegistrationResult result;
    EXPECT_TRUE(RegisterServerFile(server.c_str(), true, &result)) << std::hex << result.hr;
}

TEST_F(ServerHostTest, AsTheSystemAccountNoServerRunsFromAPlaceOthersCanChange)
{
    const std::string path = m_dir.CopyIn(TestProgramFolder() + "\\SampleNoUnreg.dll", "Untrusted\\SampleNoUnreg.dll");
    std::wstring where;
    const TrustProblem problem = CheckPathTrust(FromUtf8(path), &where);
    if (problem == TrustProblem::None) GTEST_SKIP() << "the temporary folder counts as trusted here";

    RunOptions options;
    options.asSystem = true;
    RegistrationResult result;
    EXPECT_FALSE(RegisterServerFile(path.c_str(), true, &result, options));
    EXPECT_EQ(E_ACCESSDENIED, result.hr);
    EXPECT_EQ(STAGE_NONE, result.nStage);
    EXPECT_EQ(problem, result.nTrustProblem);
    EXPECT_EQ(GetFileAttributesA((path + ".loaded").c_str()), INVALID_FILE_ATTRIBUTES) << "the server was loaded";
    const ComponentDiagnosis d = DiagnoseComponent("SampleNoUnreg.dll", "", path.c_str(), result, CImportResolver());
    const std::string verdict = ComponentVerdict(d).Str();
    EXPECT_EQ(0u, verdict.find("Not run as the system account: ")) << verdict;
    EXPECT_NE(std::string::npos, verdict.find(CString::FromWide(where.c_str()).Str())) << verdict;

    // The same file, for an account that is not the system's, runs.
    options.asSystem = false;
    EXPECT_TRUE(RegisterServerFile(path.c_str(), true, &result, options));
    EXPECT_NE(GetFileAttributesA((path + ".loaded").c_str()), INVALID_FILE_ATTRIBUTES);
    char szClsid[64] = "";
    LONG cb = sizeof szClsid;
    if (RegQueryValueA(HKEY_CLASSES_ROOT, "Kelvara.SampleNoUnreg.1\\Clsid", szClsid, &cb) == ERROR_SUCCESS && szClsid[0]) {
        EXPECT_TRUE(DeleteRegTree(HKEY_CLASSES_ROOT, std::string("CLSID\\") + szClsid));
    }
    EXPECT_TRUE(DeleteRegTree(HKEY_CLASSES_ROOT, "Kelvara.SampleNoUnreg.1"));
}

namespace {
// A management tool's output pipe, inheritable in this process: while each
// server runs, this closes our end and asks whether the pipe broke, which it
// does only if no process we started holds a copy; then it stops the run.
class CInheritedPipeCheck : public CWorkProgress {
public:
    CInheritedPipeCheck()
    {
        SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
        CreatePipe(&m_hRead, &m_hWrite, &inheritable, 0);
    }
    ~CInheritedPipeCheck() override
    {
        if (m_hWrite) CloseHandle(m_hWrite);
        CloseHandle(m_hRead);
    }
    void OnWaiting(const CString&, DWORD) override
    {
        if (!m_hWrite) return;
        CloseHandle(m_hWrite);
        m_hWrite = nullptr;
        DWORD nAvailable = 0;
        bBroken = !PeekNamedPipe(m_hRead, nullptr, 0, nullptr, &nAvailable, nullptr) && GetLastError() == ERROR_BROKEN_PIPE;
    }
    bool IsStopRequested() override { return !m_hWrite; }
    bool bBroken = false;

private:
    HANDLE m_hRead = nullptr, m_hWrite = nullptr;
};
} // namespace

TEST_F(ServerHostTest, WhatWeStartInheritsNoHandleOfOursAndEndlessOutputIsCutAtTheLimit)
{
    for (const char* sample : {"HangSrv.exe", "SampleHostHang.dll", "SampleOtherHang.dll"}) {
        const std::string path = m_dir.CopyIn(TestProgramFolder() + "\\" + sample, std::string("Pipe\\") + sample);
        CInheritedPipeCheck check;
        RunOptions options;
        options.pProgress = &check;
        RegistrationResult result;
        EXPECT_FALSE(RegisterServerFile(path.c_str(), true, &result, options));
        EXPECT_TRUE(result.bStopped) << sample;
        EXPECT_TRUE(check.bBroken) << sample << ": a process we started holds our pipe";
    }

    // The one-shot switch answers on standard output, where this server
    // writes without end: the wait still ends at its limit.
    const std::string spew = m_dir.CopyIn(TestProgramFolder() + "\\SampleHostSpew.dll", "Spew\\SampleHostSpew.dll");
    CWorkProgress quiet;
    const ProcessRun run = RunHidden(OwnProgramPath().c_str(), ("/register \"" + spew + "\"").c_str(), CString(), "", 2000, quiet, true);
    EXPECT_TRUE(run.bStopped);
    EXPECT_TRUE(run.bTimedOut);
    EXPECT_GT(run.output.size(), 0u);
    EXPECT_LE(run.output.size(), 64u * 1024);
    EXPECT_TRUE(WaitFor(NoHelperLeft, 10)) << "a helper was left running";
}
