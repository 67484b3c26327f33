// The catalogue's shape, the order of records, the clipboard line and the
// folder box's first text: logic without a window.
#include "engine/components/Catalogue.h"
#include "engine/components/ComponentItem.h"
#include "ui/comtester/ComponentList.h"
#include "engine/components/ToolLocations.h"
#include "engine/components/ResultsText.h"
#include <gtest/gtest.h>
#include <map>
#include <string>

namespace {
std::string Extension(const char* pszName)
{
    std::string name = pszName;
    std::string ext = name.substr(name.rfind('.'));
    for (char& ch : ext) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
    return ext;
}

bool HasRow(const char* pszFile, const char* pszProgID, int nKind)
{
    for (int i = 0; i < g_nCatalogueEntries; ++i) {
        const CatalogueEntry& e = g_catalogue[i];
        if (std::string(e.pszFileName) == pszFile && std::string(e.pszProgID) == pszProgID && e.nKind == nKind)
            return true;
    }
    return false;
}
}

TEST(Catalogue, HasTheShapeOfTheToolsComponentSet)
{
    ASSERT_EQ(95, g_nCatalogueEntries);
    std::map<std::string, int> extensions;
    std::map<int, int> kinds, emptyProgIDs, exeKinds;
    for (int i = 0; i < g_nCatalogueEntries; ++i) {
        const CatalogueEntry& e = g_catalogue[i];
        ++extensions[Extension(e.pszFileName)];
        ++kinds[e.nKind];
        if (!*e.pszProgID) ++emptyProgIDs[e.nKind];
        if (Extension(e.pszFileName) == ".exe") ++exeKinds[e.nKind];
    }
    EXPECT_EQ((std::map<std::string, int>{{".dll", 69}, {".ocx", 24}, {".exe", 2}}), extensions);
    EXPECT_EQ((std::map<int, int>{{KIND_TOOL_SYSTEM, 74}, {KIND_WINDOWS_SYSTEM, 1}, {KIND_COMMON_FILES, 20}}), kinds);
    EXPECT_EQ((std::map<int, int>{{KIND_TOOL_SYSTEM, 4}, {KIND_COMMON_FILES, 2}}), emptyProgIDs);
    EXPECT_EQ((std::map<int, int>{{KIND_TOOL_SYSTEM, 1}, {KIND_COMMON_FILES, 1}}), exeKinds);

    EXPECT_TRUE(HasRow("scrrun.dll", "Scripting.FileSystemObject", KIND_WINDOWS_SYSTEM));
    EXPECT_TRUE(HasRow("mergemod.dll", "MSM.Merge.1", KIND_COMMON_FILES));
    EXPECT_TRUE(HasRow("PatchWiz.dll", "", KIND_TOOL_SYSTEM));
}

namespace {
int Compare(const ComponentItem& a, const ComponentItem& b, int nParam)
{
    return CComponentList::CompareItems(reinterpret_cast<LPARAM>(&a), reinterpret_cast<LPARAM>(&b), nParam);
}

int Sign(int n) { return (n > 0) - (n < 0); }
}

TEST(CompareItems, OrdersRecordsByTheStoredFieldOfTheSortColumn)
{
    ComponentItem a("Alpha.One", "alpha.dll", KIND_TOOL_SYSTEM, "-");
    ComponentItem b("", "BETA.dll", KIND_TOOL_SYSTEM, "-");
    EXPECT_EQ(-1, Sign(Compare(a, b, 0)));         // case-insensitive: alpha < BETA
    EXPECT_EQ(1, Sign(Compare(a, b, 8)));          // descending reverses
    EXPECT_EQ(1, Sign(Compare(a, b, 1)));          // an empty ProgID first
    EXPECT_EQ(0, Compare(a, b, 6));
    EXPECT_EQ(0, Compare(a, b, 15));
    EXPECT_EQ(0, CComponentList::CompareItems(0, reinterpret_cast<LPARAM>(&b), 0));
    EXPECT_EQ(0, CComponentList::CompareItems(reinterpret_cast<LPARAM>(&a), 0, 9));

    // "-" (never checked) < "No" < "Yes", on both text columns.
    a.strRegistered = "-";  b.strRegistered = "No";
    EXPECT_EQ(-1, Sign(Compare(a, b, 2)));
    a.strRegistered = "Yes";
    EXPECT_EQ(1, Sign(Compare(a, b, 2)));
    EXPECT_EQ(-1, Sign(Compare(a, b, 10)));
    a.strOnSystem = "No";  b.strOnSystem = "Yes";
    EXPECT_EQ(-1, Sign(Compare(a, b, 3)));

    // Versions by number: 10.0.0.0 after 9.0.0.0, then the low word decides.
    a.dwVersionMS = MAKELONG(0, 10);  b.dwVersionMS = MAKELONG(0, 9);
    EXPECT_EQ(1, Compare(a, b, 4));
    EXPECT_EQ(-1, Compare(a, b, 12));
    b.dwVersionMS = a.dwVersionMS;  a.dwVersionLS = MAKELONG(0, 2);  b.dwVersionLS = MAKELONG(5, 1);
    EXPECT_EQ(1, Compare(a, b, 4));
    b.dwVersionLS = 0x80000000u;   // unsigned: the high bit is large, not negative
    EXPECT_EQ(-1, Compare(a, b, 4));
    b.dwVersionLS = a.dwVersionLS;
    EXPECT_EQ(0, Compare(a, b, 4));

    // Location by the stored path, whatever the cell shows.
    a.strLocation = "C:\\Tools\\b.dll";  b.strLocation = "c:\\tools\\A.dll";
    EXPECT_EQ(1, Sign(Compare(a, b, 5)));
}

TEST(ResultsLine, WritesSixFieldsAndQuotesOnlyFieldsThatWouldSplit)
{
    const CString plain[6] = {"PatchWiz.dll", "", "-", "-", "", ""};
    EXPECT_EQ(CString("PatchWiz.dll,,-,-,,\r\n"), FormatResultsLine(plain));

    const CString found[6] = {"KfCore.dll", "ForgeCore.Engine.1", "Yes", "Yes", "8.0.1.17", "C:\\Tools\\System\\KfCore.dll"};
    EXPECT_EQ(CString("KfCore.dll,ForgeCore.Engine.1,Yes,Yes,8.0.1.17,C:\\Tools\\System\\KfCore.dll\r\n"),
              FormatResultsLine(found));

    const CString odd[6] = {"a.dll", "X.Y", "Yes", "Yes", "1.0.0.0", "C:\\A,B \"q\"\r\nC\\a.dll"};
    EXPECT_EQ(CString("a.dll,X.Y,Yes,Yes,1.0.0.0,\"C:\\A,B \"\"q\"\"\r\nC\\a.dll\"\r\n"), FormatResultsLine(odd));
    const CString quoteOnly[6] = {"\"", "", "", "", "", ""};
    EXPECT_EQ(CString("\"\"\"\",,,,,\r\n"), FormatResultsLine(quoteOnly));
}

TEST(SystemFolder, IsTheInstallLocationsSystemSubfolder)
{
    EXPECT_EQ(CString("C:\\Tools\\Authoring\\System"), SystemFolderFromInstallLocation("C:\\Tools\\Authoring"));
    EXPECT_EQ(CString("D:\\Tools\\System"), SystemFolderFromInstallLocation("D:\\Tools\\"));
    EXPECT_EQ(CString("System"), SystemFolderFromInstallLocation(""));
}
