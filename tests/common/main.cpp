// Test programs run on a single-threaded COM apartment with the common
// controls ready, as the utility's own thread does.
#include "engine/undo/UndoJournal.h"
#include <gtest/gtest.h>
#include <ole2.h>
#include <commctrl.h>
#include <set>
#include <string>

namespace {
// Every press a test makes leaves an undo file: those the program's tests
// leave are removed at its end, so the prefix is left as it was found.
class CUndoFolderCleanup : public ::testing::Environment {
public:
    void SetUp() override { m_before = Files(); }
    void TearDown() override
    {
        const std::wstring strFolder = UndoFolder();
        for (const std::wstring& strName : Files())
            if (!m_before.count(strName)) DeleteFileW((strFolder + L"\\" + strName).c_str());
    }

private:
    static std::set<std::wstring> Files()
    {
        std::set<std::wstring> names;
        WIN32_FIND_DATAW data = {};
        HANDLE hFind = FindFirstFileW((UndoFolder() + L"\\*").c_str(), &data);
        if (hFind == INVALID_HANDLE_VALUE) return names;
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.insert(data.cFileName);
        } while (FindNextFileW(hFind, &data));
        FindClose(hFind);
        return names;
    }
    std::set<std::wstring> m_before;
};
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (FAILED(OleInitialize(nullptr))) return 2;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    ::testing::AddGlobalTestEnvironment(new CUndoFolderCleanup);
    const int result = RUN_ALL_TESTS();
    OleUninitialize();
    return result;
}
