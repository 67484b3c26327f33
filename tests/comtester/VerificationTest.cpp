// "Verify COM Information" and "Verify Files Exist" on the real page, against
// the registry of the test prefix and real folders.
#include "PageDriver.h"
#include "common/TestSupport.h"
#include "res/resource.h"
#include <gtest/gtest.h>

using namespace page_driver;

namespace {
const int COL_REGISTERED = 2, COL_ON_SYSTEM = 3, COL_VERSION = 4, COL_LOCATION = 5;
const char CURRENT_VERSION_KEY[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

std::string CellOf(HWND hList, const std::string& name, int column)
{
    const int row = FindRow(hList, name);
    return row < 0 ? "<no row " + name + ">" : Cell(hList, row, column);
}

std::vector<int> ZeroToNThenZero(int n)
{
    std::vector<int> positions;
    for (int i = 0; i < n; ++i) positions.push_back(i);
    positions.push_back(0);
    return positions;
}

// The positions a press of Verify Files Exist ends with, counting the rows;
// any before them come from the folder walk and stay within the range.
std::vector<int> RowPositions(const std::vector<int>& positions, int n)
{
    for (size_t i = 0; i + n + 1 < positions.size(); ++i)
        if (positions[i] < 0 || positions[i] > n) return positions;
    if (positions.size() < static_cast<size_t>(n) + 1) return positions;
    return std::vector<int>(positions.end() - (n + 1), positions.end());
}

std::string WindowsSystemPath(const std::string& name)
{
    char szDir[MAX_PATH] = "";
    GetSystemDirectoryA(szDir, MAX_PATH);
    return std::string(szDir) + "\\" + name;
}
}

TEST(Verification, RegisteredColumnFollowsTheProgIDsClsidDefaultValue)
{
    // A CLSID that has no key of its own still counts; an expandable or empty
    // string does not.
    CScopedRegValue named(HKEY_CLASSES_ROOT, "ForgeCore.Engine.1\\Clsid", "",
                          std::string("{5F0A1C2E-7B3D-4E11-9A42-00C0FFEE0001}"));
    CScopedRegValue expandable(HKEY_CLASSES_ROOT, "ForgeBuild.Builder.1\\Clsid", "",
                               std::string("{5F0A1C2E-7B3D-4E11-9A42-00C0FFEE0002}"), REG_EXPAND_SZ);
    CScopedRegValue empty(HKEY_CLASSES_ROOT, "ForgeMedia.Layout.1\\Clsid", "", std::string(""));
    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 1);
        HWND hList = ListOf(hPage);
        CProgressLog progress(GetDlgItem(hPage, IDC_PROGRESS));
        ClickButton(hPage, IDC_VERIFY_COM);
        // The rows are looked for first, for the registry view each is read in.
        EXPECT_EQ((std::vector<std::pair<int, int>>{{0, 95}}), progress.ranges);
        EXPECT_EQ(ZeroToNThenZero(95), RowPositions(progress.positions, 95));

        EXPECT_EQ("Yes", CellOf(hList, "KfCore.dll", COL_REGISTERED));
        EXPECT_EQ("No", CellOf(hList, "KfBuild.dll", COL_REGISTERED));
        EXPECT_EQ("No", CellOf(hList, "KfMedia.dll", COL_REGISTERED));
        EXPECT_EQ("No", CellOf(hList, "PatchWiz.dll", COL_REGISTERED));
        EXPECT_EQ("No", CellOf(hList, "KfScript.dll", COL_REGISTERED));
        // Wine registers its own scripting runtime.
        EXPECT_EQ("Yes", CellOf(hList, "scrrun.dll", COL_REGISTERED));
        // Nothing else changes.
        EXPECT_EQ("-", CellOf(hList, "KfCore.dll", COL_ON_SYSTEM));
        for (const std::string& cell : Column(hList, COL_REGISTERED)) EXPECT_TRUE(cell == "Yes" || cell == "No");
    });
}

TEST(Verification, FilesAreFoundByKindWithVersionLocationAndTheLocationCache)
{
    CTempDir dir;
    const std::string sample = TestProgramFolder() + "\\ForgeSampleServer.dll";
    const std::string system = dir.MakeDir("Tools\\System");
    const std::string core = dir.CopyIn(sample, "Tools\\System\\Sub\\KfCore.dll");
    const std::string build = dir.MakeFile("Tools\\System\\kfbuild.DLL", "no version here");
    const std::string merge = dir.CopyIn(sample, "Common\\Merge\\mergemod.dll");
    const std::string logFallback = dir.MakeFile("Tools\\System\\KvLog.dll");
    // The folder the box is changed to later; its name has a comma.
    const std::string other = dir.MakeDir("Sys,tem2");
    const std::string buildLater = dir.MakeFile("Sys,tem2\\Deep\\KfBuild.dll");
    dir.MakeFile("Sys,tem2\\KvZip.dll");
    CScopedRegValue common(HKEY_LOCAL_MACHINE, CURRENT_VERSION_KEY, "CommonFilesDir", dir / "Common");

    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 1);
        HWND hList = ListOf(hPage);
        SetFolderBox(hPage, system);
        {
            CProgressLog progress(GetDlgItem(hPage, IDC_PROGRESS));
            ClickButton(hPage, IDC_VERIFY_FILES);
            EXPECT_EQ((std::vector<std::pair<int, int>>{{0, 95}}), progress.ranges);
            EXPECT_EQ(ZeroToNThenZero(95), RowPositions(progress.positions, 95));
        }
        // Tool files anywhere in the tree, with the version of the file.
        EXPECT_EQ("Yes", CellOf(hList, "KfCore.dll", COL_ON_SYSTEM));
        EXPECT_EQ("8.0.1.17", CellOf(hList, "KfCore.dll", COL_VERSION));
        EXPECT_EQ(FileVersionText(core), CellOf(hList, "KfCore.dll", COL_VERSION));
        EXPECT_EQ(core, CellOf(hList, "KfCore.dll", COL_LOCATION));
        EXPECT_EQ("Yes", CellOf(hList, "KfBuild.dll", COL_ON_SYSTEM));
        EXPECT_EQ("0.0.0.0", CellOf(hList, "KfBuild.dll", COL_VERSION));
        EXPECT_EQ(build, CellOf(hList, "KfBuild.dll", COL_LOCATION));
        EXPECT_EQ("No", CellOf(hList, "PatchWiz.dll", COL_ON_SYSTEM));
        EXPECT_EQ("", CellOf(hList, "PatchWiz.dll", COL_LOCATION));
        // The Windows system directory; the common files tree, else the
        // tool's system folder.
        EXPECT_EQ("Yes", CellOf(hList, "scrrun.dll", COL_ON_SYSTEM));
        EXPECT_EQ(0, _stricmp(WindowsSystemPath("scrrun.dll").c_str(), CellOf(hList, "scrrun.dll", COL_LOCATION).c_str()));
        EXPECT_EQ(merge, CellOf(hList, "mergemod.dll", COL_LOCATION));
        EXPECT_EQ("8.0.1.17", CellOf(hList, "mergemod.dll", COL_VERSION));
        EXPECT_EQ(logFallback, CellOf(hList, "KvLog.dll", COL_LOCATION));
        EXPECT_EQ("No", CellOf(hList, "KvZip.dll", COL_ON_SYSTEM));

        // A new folder counts at once for tool files; common-files rows keep
        // the path they were given, even the one that was not found there.
        SetFolderBox(hPage, other);
        ClickButton(hPage, IDC_VERIFY_FILES);
        EXPECT_EQ(buildLater, CellOf(hList, "KfBuild.dll", COL_LOCATION));
        EXPECT_EQ("Yes", CellOf(hList, "KvLog.dll", COL_ON_SYSTEM));
        EXPECT_EQ(logFallback, CellOf(hList, "KvLog.dll", COL_LOCATION));
        EXPECT_EQ("No", CellOf(hList, "KvZip.dll", COL_ON_SYSTEM));
        // A file found before and gone now shows no stale version or path.
        EXPECT_EQ("No", CellOf(hList, "KfCore.dll", COL_ON_SYSTEM));
        EXPECT_EQ("", CellOf(hList, "KfCore.dll", COL_VERSION));
        EXPECT_EQ("", CellOf(hList, "KfCore.dll", COL_LOCATION));

        // The path with a comma stays one field of the copied line.
        ClickButton(hPage, IDC_COPY_COM_RESULTS);
        const std::string text = ReadClipboardText().value_or("");
        EXPECT_NE(std::string::npos,
                  text.find("\r\nKfBuild.dll,ForgeBuild.Builder.1,-,Yes,0.0.0.0,\"" + buildLater + "\"\r\n"));
    });
}
