// Nothing waits forever: a server's run has a time limit, the user can stop
// it (Esc, or the prompt's Stop), and stopping ends the server and all it
// started; Verify Files Exist and Verify COM Information stop the same way.
#include "PageDriver.h"
#include "common/TestSupport.h"
#include "engine/components/SelfRegistration.h"
#include "engine/diagnosis/Diagnosis.h"
#include "res/resource.h"
#include <gtest/gtest.h>
#include <thread>

using namespace page_driver;

namespace {
const int COL_REGISTERED = 2;
const int COL_ON_SYSTEM = 3;

// The sample servers run under the catalogue's names they are copied to.
bool NoHangLeft()
{
    return CountProcesses("KfBuildSrv.exe") == 0 && CountProcesses("KvAgent.exe") == 0;
}

HWND FindPrompt()
{
    HWND hPrompt = FindWindowA("#32770", "Still working");
    return hPrompt && IsWindowVisible(hPrompt) ? hPrompt : nullptr;
}

std::string TextOf(HWND hWnd)
{
    char szText[512] = "";
    GetWindowTextA(hWnd, szText, sizeof szText);
    return szText;
}
}

TEST(TimeLimit, EndsAServerThatNeverEndsAndEverythingItStarted)
{
    CTempDir dir;
    for (const char* server : {"HangSrv.exe", "HangParentSrv.exe"}) {
        const std::string path = dir.CopyIn(TestProgramFolder() + "\\" + server, std::string(server) + "\\KfBuildSrv.exe");
        RunOptions options;
        options.dwTimeLimitMs = 1500;
        RegistrationResult result;
        EXPECT_FALSE(RegisterServerFile(path.c_str(), true, &result, options));
        EXPECT_EQ(STAGE_STARTED, result.nStage) << server;
        EXPECT_TRUE(result.bStopped) << server;
        EXPECT_TRUE(result.bTimedOut) << server;
        EXPECT_GE(result.dMilliseconds, 1500.0) << server;
        EXPECT_EQ(CString("Stopped after 2 s: the server did not end within the time limit"),
                  ComponentVerdict(DiagnoseComponent("KfBuildSrv.exe", "ForgeBuild.Server.1", path.c_str(), result,
                                                     CImportResolver())));
        EXPECT_TRUE(WaitFor(NoHangLeft, 10)) << server << ": a process was left running";
    }
}

TEST(Stop, EscAndThePromptsStopEndTheWaitAndThePressGoesOnWithTheNextRow)
{
    CTempDir dir;
    const std::string system = dir.MakeDir("Tools\\System");
    dir.CopyIn(TestProgramFolder() + "\\HangSrv.exe", "Tools\\System\\KfBuildSrv.exe");
    dir.CopyIn(TestProgramFolder() + "\\HangParentSrv.exe", "Tools\\System\\KvAgent.exe");
    CServerCopies servers(dir);
    servers.Add("ForgeSampleServer.dll", "Tools\\System\\KvNet.dll");
    CScopedRegValue noCommonFiles(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir",
                                  dir / "Common");

    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 1);
        HWND hList = ListOf(hPage);
        SetFolderBox(hPage, system);
        SelectRows(hList, {"KfBuildSrv.exe", "KvAgent.exe", "KvNet.dll"});

        // The user: Esc while the first server hangs; then Stop in the
        // prompt, which says which server, while the second hangs.
        std::string promptText;
        std::thread user([&] {
            if (WaitFor([] { return CountProcesses("KfBuildSrv.exe") > 0; })) {
                Sleep(300);
                PostMessageA(hSheet, WM_KEYDOWN, VK_ESCAPE, 0);
            }
            HWND hPrompt = nullptr;
            if (WaitFor([&] { return CountProcesses("KvAgent.exe") >= 2 && (hPrompt = FindPrompt()) != nullptr; })) {
                Sleep(300);
                promptText = TextOf(GetDlgItem(hPrompt, IDC_STOP_TEXT));
                PostMessageA(GetDlgItem(hPrompt, IDC_STOP), BM_CLICK, 0, 0);
            }
        });
        ClickButton(hPage, IDC_REGISTER_SELECTED);
        user.join();

        EXPECT_EQ(0u, promptText.find("Waiting for KvAgent.exe (")) << promptText;
        EXPECT_EQ("No", Cell(hList, FindRow(hList, "KfBuildSrv.exe"), COL_REGISTERED));
        EXPECT_EQ("No", Cell(hList, FindRow(hList, "KvAgent.exe"), COL_REGISTERED));
        EXPECT_EQ("Yes", Cell(hList, FindRow(hList, "KvNet.dll"), COL_REGISTERED)) << "the next row ran";
        const std::string stopped = InfoTip(hPage, hList, FindRow(hList, "KvAgent.exe"), COL_REGISTERED);
        EXPECT_EQ(0u, stopped.find("Stopped after ")) << stopped;
        EXPECT_NE(std::string::npos, stopped.find("at the user's request")) << stopped;
        EXPECT_EQ(nullptr, FindPrompt()) << "the prompt goes with the command";
    });
    EXPECT_TRUE(WaitFor(NoHangLeft, 10)) << "a process was left running";
}

TEST(Stop, AVerificationStoppedAtOnceLeavesEveryRowAsItWasAndSaysSo)
{
    CTempDir dir;
    const std::string system = dir.MakeDir("Tools\\System");
    dir.MakeFile("Tools\\System\\KfCore.dll");
    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 1);
        HWND hList = ListOf(hPage);
        SetFolderBox(hPage, system);
        for (const int button : {IDC_VERIFY_FILES, IDC_VERIFY_COM}) {
            // Esc is pressed as the command starts: the walk ends at its
            // first folder, and no row is reached.
            PostMessageA(hSheet, WM_KEYDOWN, VK_ESCAPE, 0);
            ClickButton(hPage, button);
            const int row = FindRow(hList, "KfCore.dll");
            EXPECT_EQ("-", Cell(hList, row, COL_ON_SYSTEM));
            EXPECT_EQ("-", Cell(hList, row, COL_REGISTERED));
            EXPECT_EQ(LoadResourceString(IDS_INFOTIP_NOT_REACHED).Str(), InfoTip(hPage, hList, row, COL_ON_SYSTEM));
        }
        // Unstopped, the same press reaches every row.
        ClickButton(hPage, IDC_VERIFY_FILES);
        EXPECT_EQ("Yes", Cell(hList, FindRow(hList, "KfCore.dll"), COL_ON_SYSTEM));
        EXPECT_NE(LoadResourceString(IDS_INFOTIP_NOT_REACHED).Str(), InfoTip(hPage, hList, FindRow(hList, "KfCore.dll"), COL_ON_SYSTEM));
    });
}
