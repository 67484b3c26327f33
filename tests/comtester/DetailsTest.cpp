// The details of a row on the real sheet: opened by double-click, Enter and
// the right-click menu, on the focused row; the text and its copy; the
// infotip of the Registered and On System cells.
#include "PageDriver.h"
#include "common/TestSupport.h"
#include "engine/diagnosis/Diagnosis.h"
#include "engine/components/Catalogue.h"
#include "framework/CWnd.h"
#include "res/resource.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <prsht.h>

using namespace page_driver;

namespace {

struct DetailsSeen {
    HWND hOwner = nullptr;
    std::string caption, text;
    std::optional<std::string> copied;
};
std::vector<DetailsSeen>* s_pDetails = nullptr;

BOOL CALLBACK ReadIfDetails(HWND hWnd, LPARAM)
{
    HWND hText = GetDlgItem(hWnd, IDC_DETAILS_TEXT);
    if (!hText || !IsWindowVisible(hWnd)) return TRUE;
    DetailsSeen seen;
    seen.hOwner = GetWindow(hWnd, GW_OWNER);
    seen.caption = CWnd::GetText(hWnd).Str();
    seen.text = CWnd::GetText(hText).Str();
    SendMessageA(GetDlgItem(hWnd, IDC_DETAILS_COPY), BM_CLICK, 0, 0);
    seen.copied = ReadClipboardText();
    s_pDetails->push_back(seen);
    SendMessageA(hWnd, WM_COMMAND, IDOK, 0);
    return TRUE;
}

void CALLBACK PollDetails(HWND, UINT, UINT_PTR, DWORD)
{
    EnumThreadWindows(GetCurrentThreadId(), &ReadIfDetails, 0);
}

// Runs 'action'; every details dialog the thread shows meanwhile is read,
// copied and closed.
std::vector<DetailsSeen> DetailsDuring(const std::function<void()>& action)
{
    std::vector<DetailsSeen> seen;
    s_pDetails = &seen;
    const UINT_PTR idTimer = SetTimer(nullptr, 0, 50, &PollDetails);
    action();
    KillTimer(nullptr, idTimer);
    s_pDetails = nullptr;
    return seen;
}

// Picks the popup menu's first item, once the menu is up.
void CALLBACK ChooseMenuItem(HWND, UINT, UINT_PTR idTimer, DWORD)
{
    HWND hMenu = FindWindowA("#32768", nullptr);
    if (!hMenu || !IsWindowVisible(hMenu)) return;
    KillTimer(nullptr, idTimer);
    PostMessageA(hMenu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(hMenu, WM_KEYDOWN, VK_RETURN, 0);
}

// What the sheet's own loop does with queued input.
void PumpLikeTheSheet(HWND hSheet)
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (PropSheet_IsDialogMessage(hSheet, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void FocusRow(HWND hList, int row)
{
    LVITEMA item = {};
    item.stateMask = LVIS_FOCUSED | LVIS_SELECTED;
    item.state = LVIS_FOCUSED | LVIS_SELECTED;
    SendMessageA(hList, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

} // namespace

TEST(Details, OpenOnTheFocusedRowByDoubleClickEnterAndMenuAndCopyTheirText)
{
    CTempDir dir;
    const std::string system = dir.MakeDir("Forge\\System");
    const std::string failing = dir.CopyIn(TestProgramFolder() + "\\SampleMissingDep.dll", "Forge\\System\\KfBuild.dll");
    const std::string expected = CatalogueRowVerdict("KfBuild.dll", "ForgeBuild.Builder.1", KIND_TOOL_SYSTEM,
                                                     system.c_str(), "").Str();
    ASSERT_EQ("Missing dependency: ForgeAbsentHelper.dll", expected);

    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 1);
        HWND hList = ListOf(hPage);
        SetFolderBox(hPage, system);
        SelectRows(hList, {"KfBuild.dll", "KfCore.dll"});
        const int row = FindRow(hList, "KfBuild.dll");
        FocusRow(hList, row);

        // Double-click on the row.
        POINT pt = CellCentre(hList, row, 0);
        auto seen = DetailsDuring([&] { SendMessageA(hList, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(pt.x, pt.y)); });
        ASSERT_EQ(1u, seen.size());
        EXPECT_EQ("Details of KfBuild.dll", seen[0].caption);
        EXPECT_EQ(hSheet, seen[0].hOwner);
        EXPECT_NE(std::string::npos, seen[0].text.find("Verdict: " + expected)) << seen[0].text;
        EXPECT_NE(std::string::npos, seen[0].text.find("Path: " + failing));
        EXPECT_NE(std::string::npos, seen[0].text.find("ForgeAbsentHelper.dll: MISSING"));
        EXPECT_EQ(seen[0].text, seen[0].copied.value_or("")) << "Copy puts the same text on the clipboard";

        // Enter on the list opens the details instead of pressing the sheet's OK.
        SetFocus(hList);
        seen = DetailsDuring([&] {
            PostMessageA(hList, WM_KEYDOWN, VK_RETURN, 0);
            PumpLikeTheSheet(hSheet);
        });
        ASSERT_EQ(1u, seen.size());
        EXPECT_EQ("Details of KfBuild.dll", seen[0].caption);
        ASSERT_TRUE(IsWindow(hSheet) && PropSheet_GetCurrentPageHwnd(hSheet)) << "Enter closed the sheet";

        // The right-click menu's "Details...", after the server was run.
        ClickButton(hPage, IDC_REGISTER_SELECTED);
        SelectRows(hList, {"KfBuild.dll"});
        FocusRow(hList, row);
        NMITEMACTIVATE click = {};
        click.hdr = {hList, IDC_COMPONENT_LIST, static_cast<UINT>(NM_RCLICK)};
        click.iItem = row;
        seen = DetailsDuring([&] {
            SetTimer(nullptr, 0, 50, &ChooseMenuItem);
            SendMessageA(hPage, WM_NOTIFY, IDC_COMPONENT_LIST, reinterpret_cast<LPARAM>(&click));
        });
        ASSERT_EQ(1u, seen.size());
        EXPECT_NE(std::string::npos, seen[0].text.find("Register: stage reached: entry point found; result 0x8007007E"))
            << seen[0].text;

        // Infotips: the verdict on the Registered and On System cells only.
        EXPECT_EQ(expected, InfoTip(hPage, hList, row, 2));
        EXPECT_EQ(expected, InfoTip(hPage, hList, row, 3));
        EXPECT_EQ("unchanged", InfoTip(hPage, hList, row, 1));
        EXPECT_EQ(LoadResourceString(IDS_VERDICT_ABSENT).Str(), InfoTip(hPage, hList, FindRow(hList, "KfCore.dll"), 2));
        // The same in the notification's Unicode form.
        WCHAR szWide[256] = L"";
        NMLVGETINFOTIPW wide = {};
        wide.hdr = {hList, IDC_COMPONENT_LIST, static_cast<UINT>(LVN_GETINFOTIPW)};
        wide.pszText = szWide;
        wide.cchTextMax = 256;
        wide.iItem = FindRow(hList, "KfCore.dll");
        SendMessageA(hPage, WM_NOTIFY, IDC_COMPONENT_LIST, reinterpret_cast<LPARAM>(&wide));
        EXPECT_EQ(std::wstring(L"The file is not on this system"), std::wstring(szWide));
    });
}

TEST(Details, AnInfotipNeverSearchesAndOpenedDetailsLeaveTheRowShowingWhatTheyFound)
{
    CTempDir dir;
    const std::string system = dir.MakeDir("Forge\\System");
    const std::string build = dir.CopyIn(TestProgramFolder() + "\\ForgeSampleServer.dll", "Forge\\System\\Deep\\KfBuild.dll");

    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 1);
        HWND hList = ListOf(hPage);
        SetFolderBox(hPage, system);
        const int row = FindRow(hList, "KfBuild.dll");
        // Nothing pressed yet: the tip says so, for both cells, and the row
        // stays as it was.
        EXPECT_EQ(LoadResourceString(IDS_INFOTIP_NOT_LOOKED_FOR).Str(), InfoTip(hPage, hList, row, 2));
        EXPECT_EQ(LoadResourceString(IDS_INFOTIP_NOT_LOOKED_FOR).Str(), InfoTip(hPage, hList, row, 3));
        EXPECT_EQ("-", Cell(hList, row, 3));

        // The details look for the file; the row then shows what they show.
        FocusRow(hList, row);
        const auto seen = DetailsDuring([&] {
            POINT pt = CellCentre(hList, row, 0);
            SendMessageA(hList, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(pt.x, pt.y));
        });
        ASSERT_EQ(1u, seen.size());
        EXPECT_NE(std::string::npos, seen[0].text.find("Path: " + build)) << seen[0].text;
        const int after = FindRow(hList, "KfBuild.dll");
        EXPECT_EQ("Yes", Cell(hList, after, 3));
        EXPECT_EQ(build, Cell(hList, after, 5));
        EXPECT_EQ("No", Cell(hList, after, 2));
        EXPECT_EQ(LoadResourceString(IDS_VERDICT_NOT_REGISTERED).Str(), InfoTip(hPage, hList, after, 2));
    });
}
