// The COM tester page in the real sheet: the list as first shown, header
// clicks, the records' lifetime, the folder box, browsing and copying.
#include "PageDriver.h"
#include "common/TestSupport.h"
#include "engine/components/Catalogue.h"
#include "engine/components/ComponentItem.h"
#include "system/SystemInfo.h"
#include "res/resource.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <algorithm>
#include <cstring>
#include <map>

using namespace page_driver;

namespace {
const char INSTALL_KEY[] = "SOFTWARE\\Kelvara\\Forge\\8.0";

std::map<std::string, std::string> ProgIDsByName()
{
    std::map<std::string, std::string> progIDs;
    for (int i = 0; i < g_nCatalogueEntries; ++i) progIDs[g_catalogue[i].pszFileName] = g_catalogue[i].pszProgID;
    return progIDs;
}

std::string ColumnHeading(HWND hList, int column, int* pWidth)
{
    char szText[128] = "";
    LVCOLUMNA col = {};
    col.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    col.pszText = szText;
    col.cchTextMax = sizeof szText;
    SendMessageA(hList, LVM_GETCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&col));
    *pWidth = col.cx;
    return szText;
}

// The lines a copy of never-verified rows gives, in the order of 'names'.
std::string UncheckedLines(const std::vector<std::string>& names)
{
    const auto progIDs = ProgIDsByName();
    std::string text;
    for (const std::string& name : names) text += name + "," + progIDs.at(name) + ",-,-,,\r\n";
    return text;
}
}

TEST(ComTesterPage, ShowsTheSortedCatalogueSortsOnHeaderClicksAndCopiesInDisplayOrder)
{
    CScopedRegValue install(HKEY_LOCAL_MACHINE, INSTALL_KEY, "Install Location", std::string("C:\\Tools\\Authoring"));
    const int before = ComponentItem::LiveCount();
    const std::vector<std::string> ascending = CatalogueNamesAscending();
    std::vector<std::string> descending(ascending.rbegin(), ascending.rend());
    const auto progIDs = ProgIDsByName();

    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 1);
        HWND hList = ListOf(hPage);
        EXPECT_EQ("C:\\Tools\\Authoring\\System", FolderBox(hPage));
        EXPECT_EQ(before + 95, ComponentItem::LiveCount());

        // First display: ascending by file name, nothing checked yet.
        EXPECT_EQ(ascending, Column(hList, 0));
        for (int row = 0; row < 95; ++row) {
            const std::string name = Cell(hList, row, 0);
            EXPECT_EQ(progIDs.at(name), Cell(hList, row, 1));
            EXPECT_EQ("-", Cell(hList, row, 2));
            EXPECT_EQ("-", Cell(hList, row, 3));
            EXPECT_EQ("", Cell(hList, row, 4));
            EXPECT_EQ("", Cell(hList, row, 5));
        }
        const char* headings[] = {"File Name", "ProgId", "Registered", "On System", "Version", "Location DLL found at."};
        const int widths[] = {120, 150, 70, 70, 120, 120};
        for (int c = 0; c < 6; ++c) {
            int width = 0;
            EXPECT_EQ(headings[c], ColumnHeading(hList, c, &width));
            EXPECT_EQ(widths[c], width);
        }
        // Full-row selection, and infotips for the verdicts of the rows.
        EXPECT_EQ(LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP, SendMessageA(hList, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
        HIMAGELIST hImages = reinterpret_cast<HIMAGELIST>(SendMessageA(hList, LVM_GETIMAGELIST, LVSIL_SMALL, 0));
        EXPECT_EQ(1, ImageList_GetImageCount(hImages));

        // "File Name" is already the sort column: its first click reverses.
        ClickHeader(hList, 0);
        EXPECT_EQ(descending, Column(hList, 0));
        // Another column sorts ascending first, then descending.
        ClickHeader(hList, 1);
        std::vector<std::string> ids = Column(hList, 1);
        EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end(), [](const std::string& a, const std::string& b) {
            return _stricmp(a.c_str(), b.c_str()) < 0;
        }));
        EXPECT_EQ(6, std::count(ids.begin(), ids.begin() + 6, std::string()));
        ClickHeader(hList, 1);
        ids = Column(hList, 1);
        EXPECT_EQ(6, std::count(ids.end() - 6, ids.end(), std::string()));
        ClickHeader(hList, 0);
        EXPECT_EQ(ascending, Column(hList, 0));
        ClickHeader(hList, 0);
        EXPECT_EQ(descending, Column(hList, 0));

        // A copy follows the displayed order; a second copy is the same.
        WriteClipboardText("old content");
        ClickButton(hPage, IDC_COPY_COM_RESULTS);
        const auto first = ReadClipboardText();
        ClickButton(hPage, IDC_COPY_COM_RESULTS);
        const auto second = ReadClipboardText();
        ASSERT_TRUE(first.has_value());
        EXPECT_EQ(std::string(GetSystemSummary().GetString()) + UncheckedLines(descending), *first);
        EXPECT_EQ(first, second);

        // Deleting a row frees its record.
        SendMessageA(hList, LVM_DELETEITEM, 0, 0);
        EXPECT_EQ(before + 94, ComponentItem::LiveCount());
    });
    // Destroying the control frees every remaining record.
    EXPECT_EQ(before, ComponentItem::LiveCount());
}

namespace {
struct BrowseRun {
    bool bAccept = false;
    bool bSeen = false;
    std::string title;
};
BrowseRun* s_pBrowse = nullptr;

BOOL CALLBACK FindTitle(HWND hChild, LPARAM lParam)
{
    char szText[256] = "";
    GetWindowTextA(hChild, szText, sizeof szText);
    if (std::strstr(szText, "System Folder")) *reinterpret_cast<std::string*>(lParam) = szText;
    return TRUE;
}

BOOL CALLBACK AnswerPicker(HWND hWnd, LPARAM)
{
    char szClass[32] = "";
    GetClassNameA(hWnd, szClass, sizeof szClass);
    if (std::strcmp(szClass, "#32770") != 0 || !IsWindowVisible(hWnd) || !GetWindow(hWnd, GW_OWNER)) return TRUE;
    std::string title;
    EnumChildWindows(hWnd, &FindTitle, reinterpret_cast<LPARAM>(&title));
    if (title.empty()) return TRUE;
    s_pBrowse->bSeen = true;
    s_pBrowse->title = title;
    PostMessageA(hWnd, WM_COMMAND, s_pBrowse->bAccept ? IDOK : IDCANCEL, 0);
    return FALSE;
}

void CALLBACK PollForPicker(HWND, UINT, UINT_PTR idEvent, DWORD)
{
    EnumThreadWindows(GetCurrentThreadId(), &AnswerPicker, 0);
    if (s_pBrowse->bSeen) KillTimer(nullptr, idEvent);
}

// Presses "Browse..." and answers the folder picker with OK or Cancel.
BrowseRun Browse(HWND hPage, bool bAccept)
{
    BrowseRun run;
    run.bAccept = bAccept;
    s_pBrowse = &run;
    SetTimer(nullptr, 0, 100, &PollForPicker);
    ClickButton(hPage, IDC_BROWSE_SYSTEM_FOLDER);
    s_pBrowse = nullptr;
    return run;
}
}

TEST(ComTesterPage, BrowseOpensOnTheBoxsFolderAndCancelKeepsTheBox)
{
    CTempDir dir;
    const std::string folder = dir.MakeDir("Picked\\System");
    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 1);
        SetFolderBox(hPage, folder);
        const BrowseRun cancelled = Browse(hPage, false);
        EXPECT_TRUE(cancelled.bSeen);
        EXPECT_EQ("Browse for Forge 7.0 System Folder", cancelled.title);
        EXPECT_EQ(folder, FolderBox(hPage));

        // OK on the preselected folder gives that folder back.
        SetFolderBox(hPage, folder);
        const BrowseRun accepted = Browse(hPage, true);
        EXPECT_TRUE(accepted.bSeen);
        EXPECT_EQ(0, _stricmp(folder.c_str(), FolderBox(hPage).c_str())) << FolderBox(hPage);
    });
}
