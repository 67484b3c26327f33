// Paths whose characters fit the system's limits but whose UTF-8 bytes pass
// MAX_PATH: made full, named for a loaded module, compared as files.
#include "system/FileVersion.h"
#include "system/Paths.h"
#include "common/TestSupport.h"
#include <gtest/gtest.h>

namespace {
// 80 CJK characters: 240 bytes in UTF-8, 80 in UTF-16.
const std::string LONG_FOLDER = Repeat("\xe8\xb7\xaf", 80);
}

TEST(LongPaths, AreMadeFullNamedForTheirModuleAndComparedAsFiles)
{
    CTempDir dir;
    const std::string module = dir.CopyIn(TestProgramFolder() + "\\Versioned_6_0_2_26.dll", LONG_FOLDER + "\\Versioned.dll");
    ASSERT_GT(module.size(), size_t(MAX_PATH));

    // A relative path, from the folder above it.
    char szSaved[MAX_PATH * 4] = "";
    GetCurrentDirectoryA(sizeof szSaved, szSaved);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.Path().c_str()));
    int nNameOffset = 0;
    const CString full = FullPathName((LONG_FOLDER + "\\Versioned.dll").c_str(), &nNameOffset);
    SetCurrentDirectoryA(szSaved);
    EXPECT_EQ(CString(module.c_str()), full);
    EXPECT_EQ(CString("Versioned.dll"), full.Mid(nNameOffset));

    const HMODULE hModule = LoadLibraryW(FromUtf8(module).c_str());
    ASSERT_NE(nullptr, hModule);
    EXPECT_EQ(CString(module.c_str()), ModuleFilePath(hModule));
    FreeLibrary(hModule);
    DWORD dwMS = 0, dwLS = 0;
    EXPECT_TRUE(GetFileVersion(module.c_str(), dwMS, dwLS));
    EXPECT_EQ(CString("6.0.2.26"), FormatFileVersion(dwMS, dwLS));

    // The same file under a second name is told by its identity.
    const std::string link = dir / (LONG_FOLDER + "\\Link.dll");
    ASSERT_TRUE(CreateHardLinkW(FromUtf8(link).c_str(), FromUtf8(module).c_str(), nullptr));
    EXPECT_TRUE(IsSameFile(link.c_str(), module.c_str()));
    EXPECT_FALSE(IsSameFile(link.c_str(), (dir / "elsewhere.dll").c_str()));
}
