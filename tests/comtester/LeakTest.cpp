// Register Selected pressed again and again leaves the program as it found
// it: every press runs its servers in helpers and takes an undo snapshot with
// registry watches, and none of that may outlive the press.
#include "PageDriver.h"
#include "common/TestSupport.h"
#include "res/resource.h"
#include "system/Registry.h"
#include <gtest/gtest.h>
#include <psapi.h>
#include <cstdio>

using namespace page_driver;

namespace {
const int PRESSES = 30;

struct Usage {
    DWORD nHandles = 0;
    DWORD nGdi = 0;
    DWORD nUser = 0;
    SIZE_T cbPrivate = 0;
};

// Wine answers GetProcessHandleCount with zero, so the handles are counted
// by asking after every value a handle can take.
DWORD CountHandles()
{
    DWORD nCount = 0;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        DWORD dwFlags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &dwFlags)) ++nCount;
    }
    return nCount;
}

Usage Measure()
{
    Usage usage;
    usage.nHandles = CountHandles();
    usage.nGdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    usage.nUser = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (K32GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters))
        usage.cbPrivate = counters.PagefileUsage;   // the private bytes; Wine leaves PrivateUsage zero
    return usage;
}

// What the same registrations cost a program with no sheet and no undo:
// each server loaded, registered and freed in this process.
SIZE_T BareGrowth(const std::vector<std::string>& paths)
{
    const auto registerAll = [&] {
        for (const std::string& path : paths) {
            HMODULE hModule = LoadLibraryA(path.c_str());
            ASSERT_NE(nullptr, hModule) << path;
            using Entry = HRESULT(STDAPICALLTYPE*)();
            const auto pRegister = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(hModule, "DllRegisterServer")));
            ASSERT_NE(nullptr, pRegister);
            EXPECT_EQ(S_OK, pRegister());
            FreeLibrary(hModule);
        }
    };
    registerAll();
    const Usage before = Measure();
    for (int i = 1; i < PRESSES; ++i) registerAll();
    const Usage after = Measure();
    return after.cbPrivate > before.cbPrivate ? after.cbPrivate - before.cbPrivate : 0;
}
}

TEST(PressLeak, ThirtyPressesOfThreeServersKeepHandlesWindowObjectsAndMemoryFlat)
{
    const CRegistryRestore restore;
    CTempDir dir;
    const std::string system = dir.MakeDir("Tools\\System");
    CServerCopies servers(dir);
    const std::vector<std::string> paths = {servers.Add("ForgeSampleServer.dll", "Tools\\System\\KfCore.dll"),
                                            servers.Add("ForgeSampleServer.dll", "Tools\\System\\KfBuild.dll"),
                                            servers.Add("ForgeSampleServer.dll", "Tools\\System\\PatchWiz.dll")};
    const SIZE_T cbBare = BareGrowth(paths);

    Usage first, last;
    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 1);
        HWND hList = ListOf(hPage);
        SetFolderBox(hPage, system);
        SelectRows(hList, {"KfCore.dll", "KfBuild.dll", "PatchWiz.dll"});
        // The first press loads what any press needs once (the helpers'
        // program image, the undo folder's security, the list's images).
        ClickButton(hPage, IDC_REGISTER_SELECTED);
        ASSERT_EQ("Yes", Cell(hList, FindRow(hList, "KfCore.dll"), 2));
        first = Measure();
        for (int i = 1; i < PRESSES; ++i) ClickButton(hPage, IDC_REGISTER_SELECTED);
        last = Measure();
        EXPECT_EQ("Yes", Cell(hList, FindRow(hList, "KfBuild.dll"), 2));
    });

    std::printf("after the first press: %lu handles, %lu GDI, %lu USER, %lu KB private; after %d: %lu, %lu, %lu, %lu KB; bare: %lu KB\n",
                first.nHandles, first.nGdi, first.nUser, static_cast<unsigned long>(first.cbPrivate / 1024), PRESSES,
                last.nHandles, last.nGdi, last.nUser, static_cast<unsigned long>(last.cbPrivate / 1024),
                static_cast<unsigned long>(cbBare / 1024));
    EXPECT_LE(last.nHandles, first.nHandles);
    EXPECT_LE(last.nGdi, first.nGdi);
    EXPECT_LE(last.nUser, first.nUser);
    const SIZE_T cbGrowth = last.cbPrivate > first.cbPrivate ? last.cbPrivate - first.cbPrivate : 0;
    EXPECT_LE(cbGrowth, cbBare);
}

// Every press reads each row's ProgID in the row's view; under Wine a key
// named below HKEY_CLASSES_ROOT with a view flag used to keep a handle open.
TEST(PressLeak, AClassesKeyReadInAChosenViewKeepsNoHandleAndPrefersTheUsersKey)
{
    const REGSAM samView = ViewAccess(OwnViewBits());
    const auto read = [&](const char* pszProgID) { return ReadRegValue(HKEY_CLASSES_ROOT, pszProgID, nullptr, samView); };
    const CScopedRegValue machine(HKEY_LOCAL_MACHINE, "Software\\Classes\\KvViewProbe.1", "", std::string("machine"));
    EXPECT_EQ("machine", read("KvViewProbe.1").strText.Str());
    {
        const CScopedRegValue user(HKEY_CURRENT_USER, "Software\\Classes\\KvViewProbe.1", "", std::string("user"));
        EXPECT_EQ("user", read("KvViewProbe.1").strText.Str());
    }
    EXPECT_EQ("machine", read("KvViewProbe.1").strText.Str());
    const DWORD nBefore = CountHandles();
    for (int i = 0; i < 50; ++i) {
        EXPECT_TRUE(read("KvViewProbe.1").bExists);
        EXPECT_FALSE(read("KvViewProbe.Missing").bExists);
    }
    EXPECT_EQ(nBefore, CountHandles());
}
