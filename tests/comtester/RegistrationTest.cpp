// "Register Selected" and "Unregister Selected" with the sample servers,
// copied into a temporary tool System folder under catalogue names.
#include "PageDriver.h"
#include "common/TestSupport.h"
#include "engine/components/SelfRegistration.h"
#include "res/resource.h"
#include <gtest/gtest.h>

using namespace page_driver;

namespace {
const int COL_REGISTERED = 2;

std::string RegDefault(const std::string& subKey)
{
    char szValue[MAX_PATH] = "";
    LONG cb = sizeof szValue;
    if (RegQueryValueA(HKEY_CLASSES_ROOT, subKey.c_str(), szValue, &cb) != ERROR_SUCCESS) return std::string();
    return szValue;
}

std::string RegisteredOf(HWND hList, const std::string& name)
{
    return Cell(hList, FindRow(hList, name), COL_REGISTERED);
}

}

TEST(Registration, RunsTheSelectedServersInDisplayOrderAndShowsWhatTheRegistrySays)
{
    CTempDir dir;
    const std::string system = dir.MakeDir("Tools\\System");
    CServerCopies servers(dir);
    const std::string core = servers.Add("ForgeSampleServer.dll", "Tools\\System\\Sub\\KfCore.dll");
    servers.Add("ForgeSampleServer.dll", "Tools\\System\\KfBuild.dll");
    servers.Add("ForgeSampleServer.dll", "Tools\\System\\PatchWiz.dll");
    const std::string local = servers.Add("LocalSrv.exe", "Tools\\System\\Servers\\KfBuildSrv.exe");
    servers.Add("SampleRefuse.dll", "Tools\\System\\KfMedia.dll");
    // Already registered before the test: the refusing server's ProgID and
    // the ProgID of a row whose file is missing (KfDebug.dll).
    CScopedRegValue refused(HKEY_CLASSES_ROOT, "ForgeMedia.Layout.1\\Clsid", "",
                            std::string("{5F0A1C2E-7B3D-4E11-9A42-00C0FFEE0011}"));
    CScopedRegValue missing(HKEY_CLASSES_ROOT, "ForgeScript.Debugger.1\\Clsid", "",
                            std::string("{5F0A1C2E-7B3D-4E11-9A42-00C0FFEE0012}"));
    ASSERT_FALSE(IsProgIDRegistered("ForgeCore.Engine.1"));
    ASSERT_FALSE(IsProgIDRegistered("ForgeBuild.Builder.1"));
    ASSERT_FALSE(IsProgIDRegistered("ForgeBuild.Server.1"));

    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 1);
        HWND hList = ListOf(hPage);
        HWND hProgress = GetDlgItem(hPage, IDC_PROGRESS);
        SetFolderBox(hPage, system);

        // Nothing selected: nothing runs.
        SelectRows(hList, {});
        {
            CProgressLog progress(hProgress);
            ClickButton(hPage, IDC_REGISTER_SELECTED);
            EXPECT_EQ((std::vector<std::pair<int, int>>{{0, 0}}), progress.ranges);
            EXPECT_EQ(std::vector<int>{0}, progress.positions);
        }
        for (const std::string& cell : Column(hList, COL_REGISTERED)) EXPECT_EQ("-", cell);

        // Three rows after a descending sort: PatchWiz, KfCore, KfBuild. At
        // each step the registry shows which servers have run so far.
        ClickHeader(hList, 0);
        SelectRows(hList, {"KfBuild.dll", "PatchWiz.dll", "KfCore.dll"});
        {
            CProgressLog progress(hProgress);
            std::vector<std::pair<bool, bool>> seen;   // (KfCore ran, KfBuild ran) at each position
            progress.onPosition = [&](int) {
                seen.emplace_back(IsProgIDRegistered("ForgeCore.Engine.1"), IsProgIDRegistered("ForgeBuild.Builder.1"));
            };
            ClickButton(hPage, IDC_REGISTER_SELECTED);
            EXPECT_EQ((std::vector<std::pair<int, int>>{{0, 3}}), progress.ranges);
            // The one walk that finds the files moves the bar first, before
            // any server runs; then one step per row.
            ASSERT_GE(progress.positions.size(), 4u);
            const size_t nWalk = progress.positions.size() - 4;
            EXPECT_EQ((std::vector<int>{1, 2, 3, 0}), std::vector<int>(progress.positions.begin() + nWalk, progress.positions.end()));
            using Seen = std::vector<std::pair<bool, bool>>;
            EXPECT_EQ((Seen{{false, false}, {false, false}, {true, false}, {true, true}}), (Seen(seen.begin() + nWalk, seen.end())));
            for (size_t i = 0; i < nWalk; ++i) EXPECT_EQ(std::make_pair(false, false), seen[i]);
        }
        EXPECT_EQ("Yes", RegisteredOf(hList, "KfCore.dll"));
        EXPECT_EQ("Yes", RegisteredOf(hList, "KfBuild.dll"));
        EXPECT_EQ("No", RegisteredOf(hList, "PatchWiz.dll"));   // registered, but has no ProgID
        // The file found in the tree is the one registered.
        const std::string clsid = RegDefault("ForgeCore.Engine.1\\Clsid");
        EXPECT_EQ(core, RegDefault("CLSID\\" + clsid + "\\InprocServer32"));
        EXPECT_EQ("-", RegisteredOf(hList, "KfMedia.dll"));      // not selected, not touched

        // An executable server in a subfolder; a missing file, with and
        // without its ProgID registered beforehand.
        SelectRows(hList, {"KfBuildSrv.exe", "KfScript.dll", "KfDebug.dll"});
        ClickButton(hPage, IDC_REGISTER_SELECTED);
        EXPECT_EQ("Yes", RegisteredOf(hList, "KfBuildSrv.exe"));
        EXPECT_EQ(local, RegDefault("CLSID\\" + RegDefault("ForgeBuild.Server.1\\Clsid") + "\\LocalServer32"));
        EXPECT_EQ("No", RegisteredOf(hList, "KfScript.dll"));
        EXPECT_EQ("Yes", RegisteredOf(hList, "KfDebug.dll"));

        // Unregistering shows the truth: the refusing server and the missing
        // file leave their ProgIDs registered.
        SelectRows(hList, {"KfCore.dll", "KfBuild.dll", "PatchWiz.dll", "KfBuildSrv.exe", "KfMedia.dll", "KfDebug.dll"});
        ClickButton(hPage, IDC_UNREGISTER_SELECTED);
        EXPECT_EQ("No", RegisteredOf(hList, "KfCore.dll"));
        EXPECT_EQ("No", RegisteredOf(hList, "KfBuild.dll"));
        EXPECT_EQ("No", RegisteredOf(hList, "PatchWiz.dll"));
        EXPECT_EQ("No", RegisteredOf(hList, "KfBuildSrv.exe"));
        EXPECT_EQ("Yes", RegisteredOf(hList, "KfMedia.dll"));
        EXPECT_EQ("Yes", RegisteredOf(hList, "KfDebug.dll"));
        EXPECT_FALSE(IsProgIDRegistered("ForgeCore.Engine.1"));
        EXPECT_FALSE(IsProgIDRegistered("ForgeBuild.Server.1"));
        EXPECT_EQ("", RegDefault("CLSID\\" + clsid + "\\InprocServer32"));
    });
}
