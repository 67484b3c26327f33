// The folder-tree search on real folders: its order rule, the one-walk search
// that must give the same answers, and the trees it must survive.
#include "engine/components/FileSearch.h"
#include "common/TestSupport.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {
// The entries of a folder in the order the file system lists them.
std::vector<std::string> Listing(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA((folder + "\\*.*").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = data.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(hFind, &data));
    FindClose(hFind);
    return names;
}

size_t IndexIn(const std::vector<std::string>& names, const std::string& name)
{
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == name) return i;
    return names.size();
}

// The host's path of a Windows path, through Wine's own export.
std::string UnixPath(const std::string& path)
{
    using Convert = char*(CDECL*)(LPCWSTR);
    const auto pConvert = reinterpret_cast<Convert>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!pConvert) return std::string();
    const std::wstring wide(path.begin(), path.end());
    char* pszUnix = pConvert(wide.c_str());
    if (!pszUnix) return std::string();
    std::string result = pszUnix;
    HeapFree(GetProcessHeap(), 0, pszUnix);
    return result;
}

// Runs a program of the host (Wine starts ELF files too). Wine's handle of a
// host process does not wait for it, so the caller waits for its effect.
bool RunUnixCommand(const std::string& program, const std::vector<std::string>& args)
{
    std::string commandLine = program;
    for (const std::string& arg : args) commandLine += " \"" + arg + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    const std::string file = "Z:\\bin\\" + program;
    if (!CreateProcessA(file.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool WaitUntil(const std::function<bool()>& condition)
{
    for (int i = 0; i < 200 && !condition(); ++i) Sleep(25);
    return condition();
}

std::string Find(const std::string& folder, const std::string& name)
{
    return FindFileInTree(folder.c_str(), name.c_str()).GetString();
}
}

TEST(MakeFilePath, JoinsWithOneBackslash)
{
    EXPECT_EQ(CString("C:\\Tools\\System\\a.dll"), MakeFilePath("C:\\Tools\\System", "a.dll"));
    EXPECT_EQ(CString("C:\\a.dll"), MakeFilePath("C:\\", "a.dll"));
    EXPECT_EQ(CString("a.dll"), MakeFilePath("", "a.dll"));
}

TEST(FindFileInTree, FindsANameInAnySubfolderIgnoringCase)
{
    CTempDir dir;
    dir.MakeFile("System\\Other\\y.dll");
    const std::string deep = dir.MakeFile("System\\Sub\\Deeper\\SCRRUN.DLL");
    const std::string sub = dir.MakeFile("System\\Sub\\x.dll");
    EXPECT_EQ(sub, Find(dir / "System", "x.dll"));
    EXPECT_EQ(sub, Find(dir / "System\\", "X.DLL"));
    EXPECT_EQ(deep, Find(dir / "System", "scrrun.dll"));
    EXPECT_EQ("", Find(dir / "System", "absent.dll"));
    EXPECT_EQ("", Find(dir / "System", "Sub"));            // a folder is no match
    EXPECT_EQ("", Find(dir / "Missing", "x.dll"));
}

TEST(FindFileInTree, ReportsTheLastMatchMetInListingOrder)
{
    // Two subfolders: the one listed later wins.
    {
        CTempDir dir;
        const std::string a = dir.MakeFile("Root\\A\\x.dll");
        const std::string b = dir.MakeFile("Root\\B\\x.dll");
        const std::vector<std::string> order = Listing(dir / "Root");
        EXPECT_EQ(IndexIn(order, "A") < IndexIn(order, "B") ? b : a, Find(dir / "Root", "x.dll"));
    }
    // A file of the folder itself against a subfolder, in both listing
    // orders: the file is reported either way. The file system decides the
    // order, so try subfolder names until both orders have been seen.
    bool seenFolderFirst = false, seenFileFirst = false;
    for (char ch = 'a'; ch <= 'z' && !(seenFolderFirst && seenFileFirst); ++ch) {
        CTempDir dir;
        const std::string folder = std::string(1, ch) + "sub";
        dir.MakeFile("Root\\" + folder + "\\x.dll");
        dir.MakeFile("Root\\" + folder + "\\Inner\\x.dll");
        const std::string direct = dir.MakeFile("Root\\x.dll");
        const std::vector<std::string> order = Listing(dir / "Root");
        (IndexIn(order, folder) < IndexIn(order, "x.dll") ? seenFolderFirst : seenFileFirst) = true;
        EXPECT_EQ(direct, Find(dir / "Root", "x.dll")) << "subfolder " << folder;
    }
    EXPECT_TRUE(seenFolderFirst);
    EXPECT_TRUE(seenFileFirst);
}

TEST(FindFileInTree, SearchesTheCurrentFolderTreeForAnEmptyFolder)
{
    CTempDir dir;
    dir.MakeFile("Sub\\x.dll");
    char szSaved[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, szSaved);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.Path().c_str()));
    const std::string found = Find("", "x.dll");
    const CString batch = CFolderSearch("", {"x.dll"}).PathOf("x.dll");
    SetCurrentDirectoryA(szSaved);
    EXPECT_EQ("Sub\\x.dll", found);
    EXPECT_EQ(CString("Sub\\x.dll"), batch);
}

TEST(FindFileInTree, EndsOnAFolderLinkLoopAndOnPathsPastTheLimit)
{
    CTempDir dir;
    const std::string inTree = dir.MakeFile("Root\\Sub\\x.dll");
    // Root\Sub\Back leads to Root again. Wine's CreateSymbolicLink makes
    // nothing, so the link is made the way a Unix user would, with ln.
    ASSERT_TRUE(RunUnixCommand("ln", {"-s", UnixPath(dir / "Root"), UnixPath(dir / "Root\\Sub") + "/Back"}));
    ASSERT_TRUE(WaitUntil([&] { return !Listing(dir / "Root\\Sub\\Back").empty(); }));   // it does lead back
    EXPECT_EQ(inTree, Find(dir / "Root", "x.dll"));
    EXPECT_EQ(CString(inTree.c_str()), CFolderSearch((dir / "Root").c_str(), {"x.dll"}).PathOf("x.dll"));
    RunUnixCommand("rm", {UnixPath(dir / "Root\\Sub") + "/Back"});
    WaitUntil([&] { return GetFileAttributesA((dir / "Root\\Sub\\Back").c_str()) == INVALID_FILE_ATTRIBUTES; });

    // A folder whose "*.*" pattern would pass MAX_PATH lists nothing, while
    // the same file one level up is still found.
    CTempDir deep;
    std::string relative = "Deep";
    while ((deep / relative).size() < MAX_PATH - 4)
        relative += "\\" + std::string(std::min<size_t>(40, MAX_PATH - 4 - (deep / relative).size()), 'd');
    const std::string longFolder = deep.MakeDir(relative);
    ASSERT_GE(longFolder.size() + 4, static_cast<size_t>(MAX_PATH));   // "\\*.*" does not fit
    ASSERT_LT(longFolder.size(), static_cast<size_t>(MAX_PATH));
    const std::wstring wide = L"\\\\?\\" + std::wstring(longFolder.begin(), longFolder.end()) + L"\\z.dll";
    HANDLE hFile = CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hFile);
    CloseHandle(hFile);
    EXPECT_EQ("", Find(deep / "Deep", "z.dll"));
    EXPECT_EQ(CString(), CFolderSearch((deep / "Deep").c_str(), {"z.dll"}).PathOf("z.dll"));
    const std::string upper = deep.MakeFile("Deep\\z.dll");
    EXPECT_EQ(upper, Find(deep / "Deep", "z.dll"));
    DeleteFileW(wide.c_str());
}

TEST(FolderSearch, GivesThePerNameAnswersOnTreesWithDuplicates)
{
    const std::vector<std::string> names = {"a.dll", "b.dll", "c.ocx", "d.exe", "e.dll"};
    std::mt19937 random(20240607);
    for (int tree = 0; tree < 12; ++tree) {
        CTempDir dir;
        // Folders up to three levels deep, each name placed several times at
        // random depths, in mixed case now and then.
        std::vector<std::string> folders = {"T"};
        for (int i = 0; i < 14; ++i) {
            const std::string& parent = folders[random() % folders.size()];
            if (std::count(parent.begin(), parent.end(), '\\') < 3)
                folders.push_back(parent + "\\f" + std::to_string(i));
        }
        for (const std::string& folder : folders) dir.MakeDir(folder);
        for (const std::string& name : names) {
            const int copies = static_cast<int>(random() % 5);
            for (int c = 0; c < copies; ++c) {
                std::string file = name;
                if (random() % 3 == 0) file[0] = static_cast<char>(toupper(file[0]));
                dir.MakeFile(folders[random() % folders.size()] + "\\" + file);
            }
        }
        std::vector<CString> wanted;
        for (const std::string& name : names) wanted.push_back(name.c_str());
        wanted.push_back("none.dll");
        const CFolderSearch search((dir / "T").c_str(), wanted);
        for (const CString& name : wanted) {
            EXPECT_TRUE(search.Covers((dir / "T").c_str(), name));
            EXPECT_EQ(FindFileInTree((dir / "T").c_str(), name), search.PathOf(name)) << "tree " << tree << " " << name;
        }
        EXPECT_FALSE(search.Covers((dir / "T").c_str(), "other.dll"));
        EXPECT_FALSE(search.Covers((dir / "U").c_str(), "a.dll"));
    }
}
