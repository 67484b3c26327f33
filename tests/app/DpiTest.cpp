// The lists' columns at 96, 144 and 192 DPI. A process takes the DPI when it
// starts, so each DPI is measured by a run of this program as a child, with
// the registry's DPI set for it.
#include "common/TestSupport.h"
#include "res/resource.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <fstream>
#include <map>
#include <sstream>

namespace {
const char OUTPUT_VARIABLE[] = "FORGE_DPI_PROBE_OUTPUT";

// Every column of the list: its width over the width of its heading's text
// in the heading's own font.
std::vector<double> ColumnRatios(HWND hList)
{
    std::vector<double> ratios;
    HWND hHeader = ListView_GetHeader(hList);
    HDC hdc = GetDC(hHeader);
    HGDIOBJ hOld = SelectObject(hdc, reinterpret_cast<HFONT>(SendMessageA(hHeader, WM_GETFONT, 0, 0)));
    const int nColumns = Header_GetItemCount(hHeader);
    for (int i = 0; i < nColumns; ++i) {
        char szText[128] = "";
        HDITEMA item = {};
        item.mask = HDI_TEXT;
        item.pszText = szText;
        item.cchTextMax = sizeof szText;
        SendMessageA(hHeader, HDM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
        SIZE extent = {};
        GetTextExtentPoint32A(hdc, szText, lstrlenA(szText), &extent);
        ratios.push_back(extent.cx > 0 ? double(ListView_GetColumnWidth(hList, i)) / extent.cx : 0.0);
    }
    SelectObject(hdc, hOld);
    ReleaseDC(hHeader, hdc);
    return ratios;
}

DWORD RunChild(const std::string& output)
{
    char szSelf[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, szSelf, MAX_PATH);
    std::string command = std::string("\"") + szSelf + "\" --gtest_also_run_disabled_tests --gtest_filter=Dpi.DISABLED_Probe";
    SetEnvironmentVariableA(OUTPUT_VARIABLE, output.c_str());
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    const BOOL bStarted = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                         &startup, &process);
    SetEnvironmentVariableA(OUTPUT_VARIABLE, nullptr);
    if (!bStarted) return static_cast<DWORD>(-1);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD nExit = 0;
    GetExitCodeProcess(process.hProcess, &nExit);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return nExit;
}

std::vector<BYTE> DwordBytes(DWORD n)
{
    return std::vector<BYTE>(reinterpret_cast<BYTE*>(&n), reinterpret_cast<BYTE*>(&n) + sizeof n);
}
}

// Run only as the child of the test below: writes the DPI it sees and the
// column ratios of the COM tester's list and the Project tester's error list.
TEST(Dpi, DISABLED_Probe)
{
    char szOutput[MAX_PATH] = "";
    if (!GetEnvironmentVariableA(OUTPUT_VARIABLE, szOutput, MAX_PATH)) GTEST_SKIP();
    SetProcessDPIAware();   // what the program's manifest declares
    std::ofstream out(szOutput);
    RunSheet([&](HWND hSheet) {
        HDC hScreen = GetDC(nullptr);
        out << GetDeviceCaps(hScreen, LOGPIXELSX) << "\n";
        ReleaseDC(nullptr, hScreen);
        for (const auto& [page, id] : {std::pair{1, IDC_COMPONENT_LIST}, std::pair{2, IDC_ERROR_LIST}}) {
            for (double ratio : ColumnRatios(GetDlgItem(SelectPage(hSheet, page), id))) out << ratio << " ";
            out << "\n";
        }
    });
}

TEST(Dpi, EveryColumnKeepsRoomForItsHeadingAtHigherDpi)
{
    CTempDir dir;
    std::map<int, std::string> measured;
    for (DWORD dpi : {96, 144, 192}) {
        // Wine reads the DPI from either key, depending on its version.
        const CScopedRegValue desktop(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels", REG_DWORD, DwordBytes(dpi));
        const CScopedRegValue fonts(HKEY_CURRENT_CONFIG, "Software\\Fonts", "LogPixels", REG_DWORD, DwordBytes(dpi));
        const std::string output = dir / ("dpi" + std::to_string(dpi) + ".txt");
        ASSERT_EQ(0u, RunChild(output)) << dpi;
        std::ifstream in(output);
        int seen = 0;
        in >> seen;
        ASSERT_EQ(static_cast<int>(dpi), seen) << "the child did not run at the DPI set";
        std::stringstream rest;
        rest << in.rdbuf();
        measured[dpi] = rest.str();
    }
    const auto parse = [](const std::string& text) {
        std::vector<std::vector<double>> lists;
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            if (line.empty()) continue;
            std::istringstream values(line);
            lists.emplace_back();
            for (double v; values >> v;) lists.back().push_back(v);
        }
        return lists;
    };
    const auto base = parse(measured[96]);
    ASSERT_EQ(2u, base.size());
    ASSERT_EQ(6u, base[0].size());
    ASSERT_EQ(1u, base[1].size());
    for (int dpi : {144, 192}) {
        const auto scaled = parse(measured[dpi]);
        ASSERT_EQ(base.size(), scaled.size()) << dpi;
        for (size_t list = 0; list < base.size(); ++list) {
            ASSERT_EQ(base[list].size(), scaled[list].size()) << dpi;
            // Rounding of the text and the width may cost a few per cent.
            for (size_t column = 0; column < base[list].size(); ++column)
                EXPECT_GE(scaled[list][column], base[list][column] * 0.95)
                    << "list " << list << " column " << column << " at " << dpi << " DPI";
        }
    }
}
