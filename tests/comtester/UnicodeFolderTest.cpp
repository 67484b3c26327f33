// The tool installed under folders whose names lie outside the ANSI code
// page: Cyrillic and CJK names, and names whose UTF-8 form passes MAX_PATH
// bytes while staying well under MAX_PATH characters.
#include "PageDriver.h"
#include "common/TestSupport.h"
#include "comtester/FileSearch.h"
#include "comtester/SelfRegistration.h"
#include "res/resource.h"
#include <gtest/gtest.h>
#include <commctrl.h>

using namespace page_driver;

namespace {
const int COL_ON_SYSTEM = 3, COL_LOCATION = 5;
const char CYRILLIC[] = u8"Kf \u041f\u0440\u0438\u0432\u0435\u0442";   // "Kf Привет"
const char CJK[] = u8"\u4e2d\u6587 \u5de5\u5177";                        // "中文 工具"

std::wstring WindowTextW(HWND hWnd)
{
    wchar_t szText[1024] = L"";
    GetWindowTextW(hWnd, szText, 1024);
    return szText;
}

std::wstring CellW(HWND hList, int row, int column)
{
    wchar_t szText[1024] = L"";
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = szText;
    item.cchTextMax = 1024;
    SendMessageW(hList, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return szText;
}

std::wstring RegDefaultW(const std::wstring& subKey)
{
    wchar_t szValue[1024] = L"";
    DWORD cb = sizeof szValue - sizeof(wchar_t);
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, subKey.c_str(), 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS) return L"";
    RegQueryValueExW(hKey, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(szValue), &cb);
    RegCloseKey(hKey);
    return szValue;
}

}

TEST(UnicodeFolders, SearchFindsFilesUnderPathsLongerThanMaxPathBytes)
{
    // About 220 characters and 380 bytes; each name stays within the 255
    // bytes a Unix file system allows Wine.
    CTempDir dir;
    const std::string deep = std::string(CYRILLIC) + "\\" + Repeat(u8"\u0416", 100) + "\\" + Repeat(u8"\u0436", 60);
    const std::string core = dir.MakeFile(deep + "\\KfCore.dll");
    const std::string longName = Repeat(u8"\u5b57", 80) + ".dll";
    const std::string cjk = dir.MakeFile(std::string(CJK) + "\\" + longName);
    const std::string cyrillic = dir.MakeFile(std::string(CJK) + u8"\\\u041f\u0440\u0438\u0432\u0435\u0442.dll");

    EXPECT_EQ(core, FindFileInTree(dir.Path().c_str(), "kfcore.DLL").Str());
    EXPECT_EQ(cjk, FindFileInTree(dir.Path().c_str(), longName.c_str()).Str());
    EXPECT_EQ(cyrillic, FindFileInTree(dir.Path().c_str(), u8"\u043f\u0420\u0418\u0412\u0415\u0422.DLL").Str());

    const CFolderSearch search(dir.Path().c_str(), {"KfCore.dll", longName.c_str(), u8"\u041f\u0420\u0418\u0412\u0415\u0422.dll"});
    EXPECT_EQ(core, search.PathOf("KFCORE.dll").Str());
    EXPECT_EQ(cjk, search.PathOf(longName.c_str()).Str());
    EXPECT_EQ(cyrillic, search.PathOf(u8"\u043f\u0440\u0438\u0432\u0435\u0442.dll").Str());
}

TEST(UnicodeFolders, InstallLocationIsShownSearchedRegisteredAndCopiedWhole)
{
    CTempDir dir;
    const std::string install = dir / (std::string(CYRILLIC) + "\\" + CJK);
    const std::string system = dir.MakeDir(std::string(CYRILLIC) + "\\" + CJK + "\\System");
    const std::string core = dir.CopyIn(TestProgramFolder() + "\\ForgeSampleServer.dll",
                                        std::string(CYRILLIC) + "\\" + CJK + u8"\\System\\\u0421\u0435\u0440\u0432\u0435\u0440\\KfCore.dll");
    const std::string local = dir.CopyIn(TestProgramFolder() + "\\LocalSrv.exe",
                                         std::string(CYRILLIC) + "\\" + CJK + "\\System\\KfBuildSrv.exe");
    CScopedRegValue location(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kelvara\\Forge\\8.0", "Install Location", install);
    struct Unregister {
        std::vector<std::string> paths;
        ~Unregister() { for (const std::string& path : paths) RegisterServerFile(path.c_str(), false); }
    } unregister{{core, local}};

    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 1);
        HWND hList = ListOf(hPage);
        EXPECT_EQ(FromUtf8(system), WindowTextW(GetDlgItem(hPage, IDC_SYSTEM_FOLDER)));

        ClickButton(hPage, IDC_VERIFY_FILES);
        EXPECT_EQ("Yes", Cell(hList, FindRow(hList, "KfCore.dll"), COL_ON_SYSTEM));
        EXPECT_EQ(FromUtf8(core), CellW(hList, FindRow(hList, "KfCore.dll"), COL_LOCATION));
        EXPECT_EQ(FromUtf8(local), CellW(hList, FindRow(hList, "KfBuildSrv.exe"), COL_LOCATION));

        // The registry holds the servers' real paths, in-process and local.
        SelectRows(hList, {"KfCore.dll", "KfBuildSrv.exe"});
        ClickButton(hPage, IDC_REGISTER_SELECTED);
        const std::wstring coreClsid = RegDefaultW(L"ForgeCore.Engine.1\\Clsid");
        const std::wstring localClsid = RegDefaultW(L"ForgeBuild.Server.1\\Clsid");
        ASSERT_FALSE(coreClsid.empty());
        ASSERT_FALSE(localClsid.empty());
        EXPECT_EQ(FromUtf8(core), RegDefaultW(L"CLSID\\" + coreClsid + L"\\InprocServer32"));
        EXPECT_EQ(FromUtf8(local), RegDefaultW(L"CLSID\\" + localClsid + L"\\LocalServer32"));

        ClickButton(hPage, IDC_COPY_COM_RESULTS);
    });

    // Unicode programs paste the exact path; legacy ones read CF_TEXT in the
    // user's code page, "?" standing for each letter it lacks.
    const std::string line = "KfCore.dll,ForgeCore.Engine.1,Yes,Yes,8.0.1.17,";
    EXPECT_NE(std::wstring::npos, ReadClipboardUnicode().find(FromUtf8(line + core + "\r\n"))) << line + core;
    const std::optional<std::string> legacy = ReadClipboardText();
    ASSERT_TRUE(legacy);
    if (UserCodePage() == 1252) {
        EXPECT_NE(std::string::npos, legacy->find(line + dir.Path() + "\\Kf ??????\\?? ??\\System\\??????\\KfCore.dll\r\n"))
            << *legacy;
    }
}
