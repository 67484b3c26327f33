// The main sheet as the user meets it: caption, tabs, buttons and the three
// pages' controls, driven through the real window.
#include "system/SystemInfo.h"
#include "common/TestSupport.h"
#include "ui/general/General.h"
#include "res/resource.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <string>
#include <vector>

namespace {
struct ControlSeen {
    int id;
    std::string cls;
    std::string text;
    bool operator==(const ControlSeen& o) const { return id == o.id && cls == o.cls && text == o.text; }
};

std::ostream& operator<<(std::ostream& os, const ControlSeen& c)
{
    return os << "{" << c.id << ", " << c.cls << ", \"" << c.text << "\"}";
}

std::string Text(HWND hWnd)
{
    char buffer[512] = "";
    GetWindowTextA(hWnd, buffer, sizeof buffer);
    return buffer;
}

// The page's controls in creation (template) order.
std::vector<ControlSeen> Controls(HWND hPage)
{
    std::vector<ControlSeen> seen;
    for (HWND h = GetWindow(hPage, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) {
        char cls[64] = "";
        GetClassNameA(h, cls, sizeof cls);
        seen.push_back({static_cast<int>(static_cast<short>(GetDlgCtrlID(h))), cls, Text(h)});
    }
    return seen;
}

std::vector<std::string> TabTexts(HWND hSheet)
{
    HWND hTab = PropSheet_GetTabControl(hSheet);
    std::vector<std::string> texts;
    const int count = TabCtrl_GetItemCount(hTab);
    for (int i = 0; i < count; ++i) {
        char buffer[128] = "";
        TCITEMA item = {};
        item.mask = TCIF_TEXT;
        item.pszText = buffer;
        item.cchTextMax = sizeof buffer;
        SendMessageA(hTab, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
        texts.push_back(buffer);
    }
    return texts;
}

bool ButtonShown(HWND hSheet, int id)
{
    HWND h = GetDlgItem(hSheet, id);
    return h && IsWindowVisible(h);
}

constexpr int ID_APPLY_NOW = 0x3021;
}

TEST(SupportSheetTest, OpensOnGeneralWithItsCaptionTabsAndOnlyOkAndCancel)
{
    RunSheet([](HWND hSheet) {
        EXPECT_EQ("Kelvara Forge 8.0 Support Services Utility Program", Text(hSheet));
        EXPECT_EQ((std::vector<std::string>{"General", "COM tester", "Project Tester"}), TabTexts(hSheet));
        EXPECT_EQ(0, TabCtrl_GetCurSel(PropSheet_GetTabControl(hSheet)));
        EXPECT_EQ(PropSheet_IndexToHwnd(hSheet, 0), PropSheet_GetCurrentPageHwnd(hSheet));
        EXPECT_TRUE(ButtonShown(hSheet, IDOK));
        EXPECT_TRUE(ButtonShown(hSheet, IDCANCEL));
        EXPECT_FALSE(ButtonShown(hSheet, ID_APPLY_NOW));
        EXPECT_FALSE(ButtonShown(hSheet, IDHELP));
        EXPECT_TRUE(SendMessageA(hSheet, WM_GETICON, ICON_BIG, 0) || SendMessageA(hSheet, WM_GETICON, ICON_SMALL, 0));
        // No page brings a Help button of its own either.
        for (int page = 1; page < 3; ++page) {
            SelectPage(hSheet, page);
            EXPECT_FALSE(ButtonShown(hSheet, IDHELP));
        }
    });
}

TEST(SupportSheetTest, OkAndCancelBothEndTheModalRun)
{
    EXPECT_EQ(IDOK, RunSheet([](HWND hSheet) { PropSheet_PressButton(hSheet, PSBTN_OK); }));
    EXPECT_EQ(IDCANCEL, RunSheet([](HWND hSheet) { PropSheet_PressButton(hSheet, PSBTN_CANCEL); }));
    EXPECT_EQ(IDCANCEL, RunSheet([](HWND hSheet) { SendMessageA(hSheet, WM_COMMAND, IDCANCEL, 0); }));
}

TEST(SupportSheetTest, PagesCarryTheirTemplatesControls)
{
    RunSheet([](HWND hSheet) {
        const std::vector<ControlSeen> general = {
            {-1, "Button", "Your System"},
            {-1, "Static", "Operating System:"},
            {-1, "Static", "Internet Explorer:"},
            {IDC_OPERATING_SYSTEM, "Edit", Text(GetDlgItem(SelectPage(hSheet, 0), IDC_OPERATING_SYSTEM))},
            {IDC_IE_VERSION, "Edit", Text(GetDlgItem(SelectPage(hSheet, 0), IDC_IE_VERSION))},
        };
        EXPECT_EQ(general, Controls(SelectPage(hSheet, 0)));

        const std::vector<ControlSeen> comTester = {
            {1000, "Button", "Browse..."},
            {1001, "Edit", Text(GetDlgItem(SelectPage(hSheet, 1), 1001))},
            {-1, "Static", "Kelvara Forge System Folder Location:"},
            {1002, "SysListView32", ""},
            {1003, "Button", "&Verify COM Information"},
            {1004, "msctls_progress32", ""},
            {1005, "Button", "&Register Selected"},
            {1006, "Button", "&Unregister Selected"},
            {1007, "Button", "Verify &Files Exist"},
            {1008, "Button", "&Copy results to clipboard"},
            // Where the last press's undo file is, empty until a press.
            {IDC_UNDO_STATUS, "Static", ""},
            {IDC_UNDO_FILE, "Static", ""},
        };
        EXPECT_EQ(comTester, Controls(SelectPage(hSheet, 1)));

        const std::vector<ControlSeen> projectTester = {
            {1007, "Button", "Browse..."},
            {1005, "Edit", ""},
            {-1, "Static", "Project to test:"},
            {1008, "Button", "&Copy results to clipboard"},
            {1006, "SysTreeView32", ""},
            {1009, "Button", "&Test Project"},
            {1010, "SysListView32", ""},
            {-1, "Button", "Project Data"},
            {-1, "Button", "Errors"},
        };
        EXPECT_EQ(projectTester, Controls(SelectPage(hSheet, 2)));
    });
}

TEST(GeneralPageTest, ShowsTheSystemAndInternetExplorerReadOnly)
{
    RunSheet([](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 0);
        CString name, version, servicePack;
        GetOSInfo(name, version, servicePack);
        HWND hSystem = GetDlgItem(hPage, IDC_OPERATING_SYSTEM);
        HWND hExplorer = GetDlgItem(hPage, IDC_IE_VERSION);
        EXPECT_EQ(std::string(name) + ", " + version.Str() + ", " + servicePack.Str(), Text(hSystem));
        EXPECT_EQ(GetIEVersion().Str(), Text(hExplorer));
        EXPECT_TRUE(GetWindowLongA(hSystem, GWL_STYLE) & ES_READONLY);
        EXPECT_TRUE(GetWindowLongA(hExplorer, GWL_STYLE) & ES_READONLY);
        EXPECT_TRUE(GetWindowLongA(hSystem, GWL_STYLE) & WS_TABSTOP);
    });
}

TEST(GeneralPageTest, NoServicePackLeavesATrailingSeparator)
{
    EXPECT_EQ("Windows XP, 5.1.2600, Service Pack 1",
              FormatOperatingSystemLine("Windows XP", "5.1.2600", "Service Pack 1").Str());
    EXPECT_EQ("Windows 2000, 5.0.2195, ", FormatOperatingSystemLine("Windows 2000", "5.0.2195", "").Str());
}
