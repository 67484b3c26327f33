// The tool installed under Cyrillic and CJK folder names, including paths
// whose UTF-8 form passes MAX_PATH bytes well under MAX_PATH characters.
#include "PageDriver.h"
#include "common/TestSupport.h"
#include "engine/components/FileSearch.h"
#include "engine/components/SelfRegistration.h"
#include "res/resource.h"
#include <gtest/gtest.h>

using namespace page_driver;

namespace {
const int COL_LOCATION = 5;
const char TOOL[] = u8"Kf \u041f\u0440\u0438\u0432\u0435\u0442\\\u4e2d\u6587 \u5de5\u5177";   // Cyrillic, then CJK

std::string RegDefault(const std::string& subKey)
{
    char szValue[1024] = "";
    LONG cb = sizeof szValue;
    return RegQueryValueA(HKEY_CLASSES_ROOT, subKey.c_str(), szValue, &cb) == ERROR_SUCCESS ? szValue : "";
}

std::string ServerPath(const std::string& progID, const char* pszServerKey)
{
    return RegDefault("CLSID\\" + RegDefault(progID + "\\Clsid") + "\\" + pszServerKey);
}
}

TEST(UnicodeFolders, SearchAndRegistrationTakePathsLongerThanMaxPathBytes)
{
    // About 220 characters and 380 bytes; each name within the 255 bytes a
    // Unix file system allows Wine.
    CTempDir dir;
    const std::string deep = std::string(TOOL) + "\\" + Repeat(u8"\u0416", 80) + "\\" + Repeat(u8"\u0436", 60);
    const std::string core = dir.CopyIn(TestProgramFolder() + "\\ForgeSampleServer.dll", deep + "\\KfCore.dll");
    const std::string cyrillic = dir.MakeFile(std::string(TOOL) + u8"\\\u041f\u0440\u0438\u0432\u0435\u0442.dll");
    EXPECT_EQ(core, FindFileInTree(dir.Path().c_str(), "kfcore.DLL").Str());
    EXPECT_EQ(cyrillic, FindFileInTree(dir.Path().c_str(), u8"\u043f\u0420\u0418\u0412\u0415\u0422.DLL").Str());

    ASSERT_TRUE(RegisterServerFile(core.c_str(), true));
    EXPECT_EQ(core, ServerPath("ForgeCore.Engine.1", "InprocServer32"));
    EXPECT_TRUE(RegisterServerFile(core.c_str(), false));
    EXPECT_EQ("", RegDefault("ForgeCore.Engine.1\\Clsid"));
}

TEST(UnicodeFolders, InstallLocationIsShownSearchedRegisteredAndCopiedWhole)
{
    CTempDir dir;
    const std::string system = dir.MakeDir(std::string(TOOL) + "\\System");
    const std::string core = dir.CopyIn(TestProgramFolder() + "\\ForgeSampleServer.dll",
                                        std::string(TOOL) + u8"\\System\\\u0421\u0435\u0440\u0432\u0435\u0440\\KfCore.dll");
    const std::string local = dir.CopyIn(TestProgramFolder() + "\\LocalSrv.exe", std::string(TOOL) + "\\System\\KfBuildSrv.exe");
    CScopedRegValue location(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kelvara\\Forge\\8.0", "Install Location", dir / TOOL);
    struct Unregister {
        std::vector<std::string> paths;
        ~Unregister() { for (const std::string& path : paths) RegisterServerFile(path.c_str(), false); }
    } unregister{{core, local}};

    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 1);
        HWND hList = ListOf(hPage);
        EXPECT_EQ(system, FolderBox(hPage));
        ClickButton(hPage, IDC_VERIFY_FILES);
        EXPECT_EQ(core, Cell(hList, FindRow(hList, "KfCore.dll"), COL_LOCATION));
        EXPECT_EQ(local, Cell(hList, FindRow(hList, "KfBuildSrv.exe"), COL_LOCATION));
        SelectRows(hList, {"KfCore.dll", "KfBuildSrv.exe"});
        ClickButton(hPage, IDC_REGISTER_SELECTED);
        EXPECT_EQ(core, ServerPath("ForgeCore.Engine.1", "InprocServer32"));
        EXPECT_EQ(local, ServerPath("ForgeBuild.Server.1", "LocalServer32"));
        ClickButton(hPage, IDC_COPY_COM_RESULTS);
    });
    const std::string line = "KfCore.dll,ForgeCore.Engine.1,Yes,Yes,8.0.1.17,";
    EXPECT_NE(std::wstring::npos, ReadClipboardUnicode().find(FromUtf8(line + core + "\r\n")));
    if (UserCodePage() == 1252) {
        const std::string legacy = line + dir.Path() + "\\Kf ??????\\?? ??\\System\\??????\\KfCore.dll\r\n";
        EXPECT_NE(std::string::npos, ReadClipboardText().value_or("").find(legacy));
    }
}
