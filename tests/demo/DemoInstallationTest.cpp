// The demo installation, prepared for real under a scratch root and checked
// through the real sheet: the COM tester's copied results after both
// verifications, and the Project tester's tree of a sample project.
#include "DemoFixture.h"
#include "engine/components/Catalogue.h"
#include "res/resource.h"
#include <commctrl.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <map>

namespace {

const char TOOL_KEY[] = "SOFTWARE\\Kelvara\\Forge\\8.0";
const char PROJECT_SETTINGS_KEY[] = "SOFTWARE\\Kelvara\\Forge\\8.0\\Project Settings";
const char CURRENT_VERSION_KEY[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
// The version resource every sample server carries.
const char SAMPLE_VERSION[] = "8.0.1.17";

// A value as it stands in the registry: type and bytes, or nullopt.
std::optional<std::pair<DWORD, std::vector<BYTE>>> RawValue(HKEY hRoot, const char* pszKey, const char* pszName)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(hRoot, pszKey, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS) return std::nullopt;
    DWORD nType = 0, nSize = 0;
    std::optional<std::pair<DWORD, std::vector<BYTE>>> result;
    if (RegQueryValueExA(hKey, pszName, nullptr, &nType, nullptr, &nSize) == ERROR_SUCCESS) {
        std::vector<BYTE> data(nSize);
        if (RegQueryValueExA(hKey, pszName, nullptr, &nType, data.data(), &nSize) == ERROR_SUCCESS) {
            data.resize(nSize);
            result = std::make_pair(nType, data);
        }
    }
    RegCloseKey(hKey);
    return result;
}

std::string TextValue(HKEY hRoot, const char* pszKey, const char* pszName)
{
    const auto value = RawValue(hRoot, pszKey, pszName);
    if (!value || value->first != REG_SZ) return "";
    return std::string(reinterpret_cast<const char*>(value->second.data()));
}

bool KeyExists(HKEY hRoot, const char* pszKey)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(hRoot, pszKey, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS) return false;
    RegCloseKey(hKey);
    return true;
}

std::string ProgIDClsid(const std::string& progID)
{
    return TextValue(HKEY_CLASSES_ROOT, (progID + "\\Clsid").c_str(), "");
}

// Every file and folder below 'folder', as relative paths with sizes, sorted.
void ListTree(const std::string& folder, const std::string& relative, std::vector<std::string>& out)
{
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        const std::string child = relative.empty() ? name : relative + "\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out.push_back(child + "\\");
            ListTree(folder + "\\" + name, child, out);
        } else {
            out.push_back(child + " " + std::to_string(data.nFileSizeLow));
        }
    } while (FindNextFileA(hFind, &data));
    FindClose(hFind);
}

std::vector<std::string> Tree(const std::string& folder)
{
    std::vector<std::string> entries;
    ListTree(folder, "", entries);
    std::sort(entries.begin(), entries.end());
    return entries;
}

// The fields of one results line; a quoted field may hold commas.
std::vector<std::string> SplitLine(const std::string& line)
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char ch = line[i];
        if (quoted && ch == '"' && i + 1 < line.size() && line[i + 1] == '"') { fields.back() += '"'; ++i; }
        else if (ch == '"') quoted = !quoted;
        else if (ch == ',' && !quoted) fields.emplace_back();
        else fields.back() += ch;
    }
    return fields;
}

// The copied rows after the six-line summary, by file name.
std::map<std::string, std::vector<std::string>> ParseResults(const std::string& text, std::vector<std::string>& order)
{
    std::map<std::string, std::vector<std::string>> rows;
    int rules = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 2;
        if (rules < 2) {
            if (line == std::string(34, '-')) ++rules;
            continue;
        }
        const std::vector<std::string> fields = SplitLine(line);
        order.push_back(fields[0]);
        rows[fields[0]] = fields;
    }
    return rows;
}

void AppendTree(HWND hTree, HTREEITEM hItem, int depth, std::string& out)
{
    for (; hItem; hItem = TreeView_GetNextSibling(hTree, hItem)) {
        char szText[1024] = "";
        TVITEMA item = {};
        item.mask = TVIF_TEXT;
        item.hItem = hItem;
        item.pszText = szText;
        item.cchTextMax = sizeof szText;
        SendMessageA(hTree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        out += std::string(static_cast<size_t>(depth) * 2, ' ') + szText + "\n";
        AppendTree(hTree, TreeView_GetChild(hTree, hItem), depth + 1, out);
    }
}

std::vector<std::string> ListLines(HWND hList)
{
    std::vector<std::string> lines;
    for (int i = 0; i < ListView_GetItemCount(hList); ++i) {
        char szText[1024] = "";
        ListView_GetItemText(hList, i, 0, szText, sizeof szText);
        lines.push_back(szText);
    }
    return lines;
}

class DemoInstallationTest : public DemoFixture {};

} // namespace

TEST(DemoInstallation, PreparingTwiceDuplicatesNothingAndRemovingLeavesThePrefixAsFound)
{
    const auto commonBefore = RawValue(HKEY_LOCAL_MACHINE, CURRENT_VERSION_KEY, "CommonFilesDir");
    const auto installBefore = RawValue(HKEY_LOCAL_MACHINE, TOOL_KEY, "Install Location");
    const auto projectsBefore = RawValue(HKEY_CURRENT_USER, PROJECT_SETTINGS_KEY, "Project Location");
    const bool toolKeyBefore = KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kelvara");
    const bool userKeyBefore = KeyExists(HKEY_CURRENT_USER, "SOFTWARE\\Kelvara");
    const std::string automationBefore = ProgIDClsid("Torvex.AppServices.1");
    ASSERT_TRUE(commonBefore.has_value());
    CScopedRegValue commonGuard(HKEY_LOCAL_MACHINE, CURRENT_VERSION_KEY, "CommonFilesDir",
                                TextValue(HKEY_LOCAL_MACHINE, CURRENT_VERSION_KEY, "CommonFilesDir"));

    CTempDir root;
    CDemoInstallation demo(root / "Demo", TestProgramFolder());
    std::string error;
    ASSERT_TRUE(demo.Prepare(error)) << error;
    const std::vector<std::string> first = Tree(root.Path());
    EXPECT_EQ(demo.InstallFolder(), TextValue(HKEY_LOCAL_MACHINE, TOOL_KEY, "Install Location"));
    EXPECT_EQ(demo.ProjectsFolder(), TextValue(HKEY_CURRENT_USER, PROJECT_SETTINGS_KEY, "Project Location"));
    EXPECT_EQ(demo.CommonFilesFolder(), TextValue(HKEY_LOCAL_MACHINE, CURRENT_VERSION_KEY, "CommonFilesDir"));
    EXPECT_FALSE(ProgIDClsid("Torvex.AppServices.1").empty());
    EXPECT_FALSE(ProgIDClsid("ForgeCore.Engine.1").empty());
    // Subfolders of the System folder, and the sample projects.
    EXPECT_NE(first.end(), std::find(first.begin(), first.end(), "Demo\\Kelvara\\Forge 8.0\\System\\Controls\\"));
    EXPECT_NE(first.end(), std::find_if(first.begin(), first.end(), [](const std::string& entry) {
                  return entry.rfind("Demo\\Kelvara\\Forge 8.0\\Projects\\standard.kvp ", 0) == 0;
              }));

    ASSERT_TRUE(demo.Prepare(error)) << error;
    EXPECT_EQ(first, Tree(root.Path()));
    EXPECT_EQ(demo.CommonFilesFolder(), TextValue(HKEY_LOCAL_MACHINE, CURRENT_VERSION_KEY, "CommonFilesDir"));

    EXPECT_TRUE(demo.Remove(error)) << error;
    EXPECT_TRUE(Tree(root.Path()).empty());
    EXPECT_EQ(commonBefore, RawValue(HKEY_LOCAL_MACHINE, CURRENT_VERSION_KEY, "CommonFilesDir"));
    EXPECT_EQ(installBefore, RawValue(HKEY_LOCAL_MACHINE, TOOL_KEY, "Install Location"));
    EXPECT_EQ(projectsBefore, RawValue(HKEY_CURRENT_USER, PROJECT_SETTINGS_KEY, "Project Location"));
    EXPECT_EQ(toolKeyBefore, KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kelvara"));
    EXPECT_EQ(userKeyBefore, KeyExists(HKEY_CURRENT_USER, "SOFTWARE\\Kelvara"));
    EXPECT_EQ(automationBefore, ProgIDClsid("Torvex.AppServices.1"));
    for (const DemoRowExpectation& row : CDemoInstallation::ExpectedResults()) {
        if (row.bRegistered) {
            EXPECT_EQ("", ProgIDClsid(FindCatalogueEntry(row.strFileName.c_str())->pszProgID)) << row.strFileName;
        }
    }
}

TEST_F(DemoInstallationTest, ComTesterCopiesThePatternTheInstallationWasBuiltFor)
{
    const std::optional<std::string> copied = CopyVerifiedComResults();
    ASSERT_TRUE(copied.has_value());
    std::vector<std::string> order;
    const auto rows = ParseResults(*copied, order);

    const std::vector<DemoRowExpectation> expected = CDemoInstallation::ExpectedResults();
    ASSERT_EQ(94u, expected.size());   // every row but the Windows system one
    int registered = 0, present = 0;
    for (const DemoRowExpectation& row : expected) {
        const auto found = rows.find(row.strFileName);
        ASSERT_NE(rows.end(), found) << row.strFileName;
        const std::vector<std::string>& fields = found->second;
        ASSERT_EQ(6u, fields.size()) << row.strFileName;
        EXPECT_EQ(row.bRegistered ? "Yes" : "No", fields[2]) << row.strFileName;
        EXPECT_EQ(row.bOnSystem ? "Yes" : "No", fields[3]) << row.strFileName;
        if (row.bOnSystem) {
            EXPECT_EQ(SAMPLE_VERSION, fields[4]) << row.strFileName;
            EXPECT_EQ(0u, fields[5].find(m_root.Path() + "\\Demo\\")) << fields[5];
            EXPECT_EQ(row.strFileName, fields[5].substr(fields[5].find_last_of('\\') + 1));
        }
        registered += row.bRegistered;
        present += row.bOnSystem;
    }
    // A mix of both answers in both columns, as the installation promises.
    EXPECT_GT(registered, 0);
    EXPECT_LT(registered, 94);
    EXPECT_GT(present, 0);
    EXPECT_LT(present, 94);
    // Rows come in the list's first order: by file name, ignoring case.
    EXPECT_EQ(95u, order.size());
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end(), [](const std::string& a, const std::string& b) {
        return _stricmp(a.c_str(), b.c_str()) < 0;
    }));
}

TEST_F(DemoInstallationTest, ProjectTesterShowsTheTreeOfASampleProjectAndTheErrorsOfTheFaultyOne)
{
    std::string tree, faultyTree;
    std::vector<std::string> errors, faultyErrors;
    std::vector<MessageBoxSeen> boxes;
    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 2);
        HWND hTree = GetDlgItem(hPage, IDC_PROJECT_TREE);
        SetDlgItemTextA(hPage, IDC_PROJECT_PATH, (m_demo.ProjectsFolder() + "\\standard.kvp").c_str());
        auto seen = CloseMessageBoxesDuring([&] { ClickButton(hPage, IDC_TEST_PROJECT); });
        boxes.insert(boxes.end(), seen.begin(), seen.end());
        AppendTree(hTree, TreeView_GetRoot(hTree), 0, tree);
        errors = ListLines(GetDlgItem(hPage, IDC_ERROR_LIST));

        SetDlgItemTextA(hPage, IDC_PROJECT_PATH, (m_demo.ProjectsFolder() + "\\faults.kvp").c_str());
        seen = CloseMessageBoxesDuring([&] { ClickButton(hPage, IDC_TEST_PROJECT); });
        boxes.insert(boxes.end(), seen.begin(), seen.end());
        AppendTree(hTree, TreeView_GetRoot(hTree), 0, faultyTree);
        faultyErrors = ListLines(GetDlgItem(hPage, IDC_ERROR_LIST));
    });
    // standard.kvp, each level shown last feature first.
    EXPECT_EQ("Forge Project (Standard)\n"
              "  Start Menu Shortcuts\n"
              "  Documentation\n"
              "    Release Notes\n"
              "    User Guide\n"
              "  Program Files\n"
              "    Samples\n"
              "    Core Components\n"
              "      Shared Libraries\n"
              "      Runtime\n", tree);
    EXPECT_TRUE(errors.empty());
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(faultyTree.empty());
    ASSERT_FALSE(faultyErrors.empty());
    for (const std::string& line : faultyErrors) EXPECT_EQ(0u, line.find("Failure at:")) << line;
}
