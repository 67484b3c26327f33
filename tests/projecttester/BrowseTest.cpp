// "Browse..." on the Project tester: the open dialog starts in the project
// folder from the registry and puts the chosen file into the edit box.
#include "common/TestSupport.h"
#include "res/resource.h"
#include <gtest/gtest.h>
#include <commdlg.h>
#include <string>

namespace {
const char SETTINGS_KEY[] = "SOFTWARE\\Kelvara\\Forge\\8.0\\Project Settings";

// What to do with the open dialog once it shows.
struct DialogPlan {
    std::string fileToChoose;   // empty: cancel
    std::string folderSeen;
    bool ownedBySheet = false;
    bool seen = false;
};
DialogPlan* s_pPlan = nullptr;

BOOL CALLBACK AnswerOpenDialog(HWND hWnd, LPARAM)
{
    char cls[32] = "";
    GetClassNameA(hWnd, cls, sizeof cls);
    if (lstrcmpA(cls, "#32770") != 0 || !IsWindowVisible(hWnd) || !GetDlgItem(hWnd, IDOK)) return TRUE;
    char folder[MAX_PATH] = "";
    if (SendMessageA(hWnd, CDM_GETFOLDERPATH, MAX_PATH, reinterpret_cast<LPARAM>(folder)) < 0) return TRUE;
    s_pPlan->seen = true;
    s_pPlan->folderSeen = folder;
    s_pPlan->ownedBySheet = GetWindow(hWnd, GW_OWNER) != nullptr;
    if (s_pPlan->fileToChoose.empty()) {
        PostMessageA(hWnd, WM_COMMAND, IDCANCEL, 0);
    } else {
        SendMessageA(hWnd, CDM_SETCONTROLTEXT, cmb13, reinterpret_cast<LPARAM>(s_pPlan->fileToChoose.c_str()));
        SendMessageA(hWnd, CDM_SETCONTROLTEXT, edt1, reinterpret_cast<LPARAM>(s_pPlan->fileToChoose.c_str()));
        PostMessageA(hWnd, WM_COMMAND, IDOK, 0);
    }
    return FALSE;
}

void CALLBACK PollForDialog(HWND, UINT, UINT_PTR, DWORD)
{
    if (s_pPlan && !s_pPlan->seen) EnumThreadWindows(GetCurrentThreadId(), &AnswerOpenDialog, 0);
}

std::string EditText(HWND hPage)
{
    char text[MAX_PATH] = "";
    GetDlgItemTextA(hPage, IDC_PROJECT_PATH, text, sizeof text);
    return text;
}

std::string Lower(std::string s)
{
    CharLowerBuffA(&s[0], static_cast<DWORD>(s.size()));
    return s;
}
}

TEST(ProjectBrowseTest, OpensInTheProjectFolderAndFillsTheBoxWithTheChoice)
{
    CTempDir projects;
    const std::string project = projects.MakeFile("Setup One.kvp", "type 3\n");
    CTempDir elsewhere;
    // An empty value under the user's key falls back to the machine's.
    const CScopedRegValue user(HKEY_CURRENT_USER, SETTINGS_KEY, "Project Location", std::string());
    const CScopedRegValue machine(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "Project Location", projects.Path());

    DialogPlan cancel, choose;
    choose.fileToChoose = "Setup One.kvp";
    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 2);
        SetDlgItemTextA(hPage, IDC_PROJECT_PATH, "C:\\typed.kvp");
        const UINT_PTR timer = SetTimer(nullptr, 0, 50, &PollForDialog);

        s_pPlan = &cancel;
        ClickButton(hPage, IDC_BROWSE_PROJECT);
        EXPECT_EQ("C:\\typed.kvp", EditText(hPage));   // a cancel changes nothing

        s_pPlan = &choose;
        ClickButton(hPage, IDC_BROWSE_PROJECT);
        EXPECT_EQ(Lower(project), Lower(EditText(hPage)));

        s_pPlan = nullptr;
        KillTimer(nullptr, timer);
    });
    ASSERT_TRUE(cancel.seen);
    EXPECT_EQ(Lower(projects.Path()), Lower(cancel.folderSeen));
    EXPECT_TRUE(cancel.ownedBySheet);
    EXPECT_TRUE(choose.seen);
}

TEST(ProjectBrowseTest, TheUsersProjectFolderComesFirst)
{
    CTempDir mine, machines;
    const CScopedRegValue user(HKEY_CURRENT_USER, SETTINGS_KEY, "Project Location", mine.Path());
    const CScopedRegValue machine(HKEY_LOCAL_MACHINE, SETTINGS_KEY, "Project Location", machines.Path());

    DialogPlan cancel;
    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 2);
        const UINT_PTR timer = SetTimer(nullptr, 0, 50, &PollForDialog);
        s_pPlan = &cancel;
        ClickButton(hPage, IDC_BROWSE_PROJECT);
        s_pPlan = nullptr;
        KillTimer(nullptr, timer);
    });
    ASSERT_TRUE(cancel.seen);
    EXPECT_EQ(Lower(mine.Path()), Lower(cancel.folderSeen));
}
