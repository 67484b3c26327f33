// Undo from the COM tester: a press says where its undo file is, and "Undo
// last registration change..." puts back what an unregistration removed
// beyond its own registration, key by key.
#include "PageDriver.h"
#include "common/TestSupport.h"
#include "engine/undo/UndoJournal.h"
#include "res/resource.h"
#include <gtest/gtest.h>
#include <commctrl.h>

using namespace page_driver;

namespace {
const char SHARED_TYPELIB[] = "TypeLib\\{4B46A0E1-5C3D-4F21-9A7B-6E0D1C2B3A41}";
const char SHARED_APPID[] = "AppID\\{4B46A0E2-5C3D-4F21-9A7B-6E0D1C2B3A42}";

// Picks the popup menu's last item, once the menu is up.
void CALLBACK ChooseLastMenuItem(HWND, UINT, UINT_PTR idTimer, DWORD)
{
    HWND hMenu = FindWindowA("#32768", nullptr);
    if (!hMenu || !IsWindowVisible(hMenu)) return;
    KillTimer(nullptr, idTimer);
    PostMessageA(hMenu, WM_KEYDOWN, VK_UP, 0);
    PostMessageA(hMenu, WM_KEYDOWN, VK_RETURN, 0);
}

// Opens the list's menu, chooses "Undo last registration change..." and
// answers every message box with its OK.
std::vector<MessageBoxSeen> UndoFromTheMenu(HWND hPage, HWND hList)
{
    NMITEMACTIVATE click = {};
    click.hdr = {hList, IDC_COMPONENT_LIST, static_cast<UINT>(NM_RCLICK)};
    click.iItem = -1;
    return CloseMessageBoxesDuring([&] {
        SetTimer(nullptr, 0, 50, &ChooseLastMenuItem);
        SendMessageA(hPage, WM_NOTIFY, IDC_COMPONENT_LIST, reinterpret_cast<LPARAM>(&click));
    });
}

std::string Text(HWND hPage, int id)
{
    char szText[1024] = "";
    GetDlgItemTextA(hPage, id, szText, sizeof szText);
    return szText;
}

std::string ClassesExport()
{
    return RegeditExport("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\TypeLib") +
           RegeditExport("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\AppID") +
           RegeditExport("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\ForgeBuild.Builder.1");
}

bool KeyExists(const std::string& key)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) return false;
    RegCloseKey(hKey);
    return true;
}
}

TEST(UndoPress, TheMenuPutsBackWhatAnUnregistrationRemovedBeyondItsOwnAndUndoesItsUndo)
{
    const CRegistryRestore restore;
    CTempDir dir;
    const std::string system = dir.MakeDir("Forge\\System");
    CServerCopies copies(dir);
    copies.Add("SampleShareSrv.dll", "Forge\\System\\KfBuild.dll");
    // What an installer put beside the server: a type library other
    // products share, an AppID with its settings, a value by the ProgID.
    CScopedRegValue typeLib(HKEY_CLASSES_ROOT, std::string(SHARED_TYPELIB) + "\\1.0", "", std::string("Kelvara shared types"));
    CScopedRegValue win32(HKEY_CLASSES_ROOT, std::string(SHARED_TYPELIB) + "\\1.0\\0\\win32", "", std::string("C:\\shared.tlb"));
    CScopedRegValue surrogate(HKEY_CLASSES_ROOT, SHARED_APPID, "DllSurrogate", std::string(""));
    CScopedRegValue access(HKEY_CLASSES_ROOT, SHARED_APPID, "AccessPermission", REG_BINARY, {1, 0, 4, 0x80, 0x4B, 0x46});
    CScopedRegValue installedBy(HKEY_CLASSES_ROOT, "ForgeBuild.Builder.1", "InstalledBy", std::string("Kelvara Forge Setup"));

    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 1);
        HWND hList = ListOf(hPage);
        SetFolderBox(hPage, system);
        SelectRows(hList, {"KfBuild.dll"});
        const int row = FindRow(hList, "KfBuild.dll");
        ClickButton(hPage, IDC_REGISTER_SELECTED);
        EXPECT_EQ(0u, Text(hPage, IDC_UNDO_STATUS).find("Undo file, restores ")) << Text(hPage, IDC_UNDO_STATUS);
        const std::string registerFile = Text(hPage, IDC_UNDO_FILE);
        EXPECT_NE(std::string::npos, registerFile.find("Register Selected.reg")) << registerFile;
        EXPECT_EQ(registerFile, CString::FromWide(LastUndoFile().c_str()).Str());
        CRegistrySnapshot afterRegister;
        ASSERT_TRUE(afterRegister.Capture());
        const std::string exported = ClassesExport();

        ClickButton(hPage, IDC_UNREGISTER_SELECTED);
        ASSERT_FALSE(KeyExists(SHARED_TYPELIB) || KeyExists(SHARED_APPID)) << "the server removes the shared keys";
        EXPECT_EQ("No", Cell(hList, row, 2));
        const std::string unregisterFile = Text(hPage, IDC_UNDO_FILE);
        EXPECT_NE(std::string::npos, unregisterFile.find("Unregister Selected.reg")) << unregisterFile;
        CRegistrySnapshot afterUnregister;
        ASSERT_TRUE(afterUnregister.Capture());

        // The menu names the file, asks once, puts everything back and
        // verifies the row again.
        std::vector<MessageBoxSeen> boxes = UndoFromTheMenu(hPage, hList);
        ASSERT_EQ(1u, boxes.size());
        EXPECT_NE(std::string::npos, boxes[0].text.find(unregisterFile)) << boxes[0].text;
        EXPECT_NE(std::string::npos, boxes[0].text.find("Unregister Selected, begun ")) << boxes[0].text;
        EXPECT_EQ(std::string::npos, boxes[0].text.find("%d")) << boxes[0].text;
        EXPECT_EQ(std::string::npos, boxes[0].text.find("deletes these keys")) << "it puts keys back, deletes none";
        EXPECT_EQ("", RegistryDifferences(afterRegister));
        EXPECT_TRUE(exported == ClassesExport()) << "the registry editor sees a difference";
        EXPECT_EQ("Yes", Cell(hList, row, 2));
        EXPECT_EQ(0u, Text(hPage, IDC_UNDO_STATUS).find("Undone (")) << Text(hPage, IDC_UNDO_STATUS);

        // The undo kept its own undo file: undoing again is the unregistration,
        // and the question names the machine's keys it deletes.
        boxes = UndoFromTheMenu(hPage, hList);
        ASSERT_EQ(1u, boxes.size());
        EXPECT_NE(std::string::npos, boxes[0].text.find("Undo, begun ")) << boxes[0].text;
        EXPECT_NE(std::string::npos, boxes[0].text.find("\\{4B46A0E1-5C3D-4F21-9A7B-6E0D1C2B3A41}\r\n")) << boxes[0].text;
        EXPECT_EQ("", RegistryDifferences(afterUnregister));
        EXPECT_EQ("No", Cell(hList, row, 2));

        // The system's own importer gives the same as the menu.
        EXPECT_EQ(0u, RunProcess("reg.exe import \"" + unregisterFile + "\" /reg:64").exitCode);
        EXPECT_EQ("", RegistryDifferences(afterRegister));
        EXPECT_TRUE(exported == ClassesExport());
    });
}
