// The self-registration runner against the real sample servers, copied into a
// temporary folder so that every registered path is a temporary one. Each
// test removes every key the servers wrote and checks that they are gone.
#include "engine/components/SelfRegistration.h"
#include "system/FileVersion.h"
#include "common/TestSupport.h"
#include "system/FaultGuard.h"
#include "res/resource.h"
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace {

std::string ReadDefault(const std::string& key)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS) return "";
    char szValue[1024] = "";
    DWORD type = 0, size = sizeof szValue - 1;
    const LONG result = RegQueryValueExA(hKey, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(szValue), &size);
    RegCloseKey(hKey);
    return result == ERROR_SUCCESS && type == REG_SZ ? std::string(szValue) : std::string();
}

bool KeyExists(const std::string& key)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) return false;
    RegCloseKey(hKey);
    return true;
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string CurrentDirectory()
{
    char szDir[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, szDir);
    return szDir;
}

// Every CLSID key whose server key names one of the paths.
std::vector<std::string> ClsidKeysNaming(const std::set<std::string>& paths)
{
    std::vector<std::string> keys;
    HKEY hClsid = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &hClsid) != ERROR_SUCCESS) return keys;
    char szName[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof szName;
        if (RegEnumKeyExA(hClsid, i, szName, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        const std::string key = std::string("CLSID\\") + szName;
        for (const char* server : {"\\InprocServer32", "\\LocalServer32"}) {
            const std::string value = ReadDefault(key + server);
            for (const std::string& path : paths)
                if (!value.empty() && lstrcmpiA(value.c_str(), path.c_str()) == 0) keys.push_back(key);
        }
    }
    RegCloseKey(hClsid);
    return keys;
}

class SelfRegistrationTest : public ::testing::Test {
protected:
    // Copies a sample server in under another name; its ProgID (if any) must
    // be absent now and is removed at the end, with every CLSID naming it.
    std::string Install(const char* sample, const std::string& name, const std::string& progID = "")
    {
        const std::string path = m_dir.CopyIn(TestProgramFolder() + "\\" + sample, name);
        m_paths.insert(path);
        if (!progID.empty()) {
            EXPECT_FALSE(KeyExists(progID)) << progID << " is registered before the test";
            m_progIDs.insert(progID);
        }
        return path;
    }

    void SetUp() override
    {
        m_savedDir = CurrentDirectory();
        // A current directory of our own, so that a change to it is seen.
        SetCurrentDirectoryA(m_dir.MakeDir("cwd").c_str());
        m_cwd = CurrentDirectory();
    }

    void TearDown() override
    {
        for (const std::string& progID : m_progIDs) {
            const std::string clsid = ReadDefault(progID + "\\Clsid");
            if (!clsid.empty()) DeleteRegTree(HKEY_CLASSES_ROOT, "CLSID\\" + clsid);
            DeleteRegTree(HKEY_CLASSES_ROOT, progID);
            EXPECT_FALSE(KeyExists(progID)) << progID;
        }
        for (const std::string& key : ClsidKeysNaming(m_paths)) DeleteRegTree(HKEY_CLASSES_ROOT, key);
        EXPECT_TRUE(ClsidKeysNaming(m_paths).empty());
        SetCurrentDirectoryA(m_savedDir.c_str());
    }

    // The call under test, which must leave the current directory as it was.
    bool Run(const std::string& path, bool bRegister)
    {
        const bool bResult = RegisterServerFile(CString(path.c_str()), bRegister);
        EXPECT_EQ(m_cwd, CurrentDirectory()) << "after " << path;
        return bResult;
    }

    CTempDir m_dir;
    std::string m_savedDir, m_cwd;
    std::set<std::string> m_paths, m_progIDs;
};

TEST_F(SelfRegistrationTest, InProcessServerRegistersUnregistersAndIsFreed)
{
    const std::string path = Install("ForgeSampleServer.dll", "KfCore.dll", "ForgeCore.Engine.1");
    const std::string other = Install("ForgeSampleServer.dll", "Unlisted.dll", "Kelvara.SampleServer.1");

    EXPECT_TRUE(Run(path, true));
    const std::string clsid = ReadDefault("ForgeCore.Engine.1\\Clsid");
    ASSERT_EQ(38u, clsid.size());
    EXPECT_EQ(path, ReadDefault("CLSID\\" + clsid + "\\InprocServer32"));
    EXPECT_EQ(nullptr, GetModuleHandleA(path.c_str())) << "the server stays loaded";

    EXPECT_TRUE(Run(other, true));
    EXPECT_EQ(other, ReadDefault("CLSID\\" + ReadDefault("Kelvara.SampleServer.1\\Clsid") + "\\InprocServer32"));

    EXPECT_TRUE(Run(path, false));
    EXPECT_FALSE(KeyExists("ForgeCore.Engine.1"));
    EXPECT_FALSE(KeyExists("CLSID\\" + clsid));
    EXPECT_TRUE(KeyExists("Kelvara.SampleServer.1\\Clsid")) << "unregistering one server removed another";

    // What others wrote beside the registration stays on unregistering.
    HKEY hKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, "Kelvara.SampleServer.1\\CurVer", 0, nullptr, 0,
                                             KEY_WRITE, nullptr, &hKey, nullptr));
    RegCloseKey(hKey);
    EXPECT_TRUE(Run(other, false));
    EXPECT_FALSE(KeyExists("Kelvara.SampleServer.1\\Clsid"));
    EXPECT_TRUE(KeyExists("Kelvara.SampleServer.1\\CurVer"));
}

TEST_F(SelfRegistrationTest, SampleServersCarryTheirVersion)
{
    DWORD ms = 0, ls = 0;
    ASSERT_TRUE(GetFileVersion(CString((TestProgramFolder() + "\\ForgeSampleServer.dll").c_str()), ms, ls));
    EXPECT_EQ(MAKELONG(0, 8), ms);
    EXPECT_EQ(MAKELONG(17, 1), ls);
    for (const char* sample : {"LocalSrv.exe", "SlowSrv.exe", "SampleSFalse.dll", "SampleFaultEntry.dll",
                               "SampleFaultMain.dll", "SampleRefuse.dll", "SampleNoUnreg.dll", "SampleMissingDep.dll"})
        EXPECT_TRUE(GetFileVersion(CString((TestProgramFolder() + "\\" + sample).c_str()), ms, ls)) << sample;
    // Built only for its import library: never beside the servers.
    EXPECT_FALSE(FileExists(TestProgramFolder() + "\\ForgeAbsentHelper.dll"));
}

TEST_F(SelfRegistrationTest, CatalogueEntryWithoutProgIDRegistersItsClsidOnly)
{
    const std::string path = Install("ForgeSampleServer.dll", "PatchWiz.dll");
    EXPECT_TRUE(Run(path, true));
    EXPECT_EQ(1u, ClsidKeysNaming({path}).size());
    EXPECT_TRUE(Run(path, false));
    EXPECT_TRUE(ClsidKeysNaming({path}).empty());
}

TEST_F(SelfRegistrationTest, OnlyExactlySOkIsSuccess)
{
    const std::string sFalse = Install("SampleSFalse.dll", "SampleSFalse.dll", "Kelvara.SampleSFalse.1");
    EXPECT_FALSE(Run(sFalse, true));
    EXPECT_TRUE(KeyExists("Kelvara.SampleSFalse.1\\Clsid")) << "the entry point did not run";
    EXPECT_FALSE(Run(sFalse, false));
    EXPECT_FALSE(KeyExists("Kelvara.SampleSFalse.1"));

    const std::string refuse = Install("SampleRefuse.dll", "SampleRefuse.dll", "Kelvara.SampleRefuse.1");
    EXPECT_TRUE(Run(refuse, true));
    EXPECT_FALSE(Run(refuse, false));
    EXPECT_TRUE(KeyExists("Kelvara.SampleRefuse.1\\Clsid"));
}

TEST_F(SelfRegistrationTest, FilesThatCannotRunGiveFalse)
{
    EXPECT_FALSE(Run(m_dir / "Missing.dll", true));
    EXPECT_FALSE(Run(m_dir.MakeFile("NotAModule.dll", "plain text, no PE header"), true));
    EXPECT_FALSE(Run(m_dir.Path(), true)) << "a folder";

    // A full load fails, though the mapping for the probe succeeds.
    const std::string missingDep = Install("SampleMissingDep.dll", "SampleMissingDep.dll");
    EXPECT_FALSE(Run(missingDep, true));
    EXPECT_FALSE(Run(missingDep, false));
    EXPECT_EQ(nullptr, GetModuleHandleA(missingDep.c_str()));
}

TEST_F(SelfRegistrationTest, WithoutTheEntryPointTheServerNeverRuns)
{
    const std::string path = Install("SampleNoUnreg.dll", "SampleNoUnreg.dll", "Kelvara.SampleNoUnreg.1");
    const std::string marker = path + ".loaded";

    EXPECT_FALSE(Run(path, false));
    EXPECT_FALSE(FileExists(marker)) << "DllMain ran although DllUnregisterServer is missing";

    // The same file with the entry point present does run: the marker works.
    EXPECT_TRUE(Run(path, true));
    EXPECT_TRUE(FileExists(marker));
    EXPECT_TRUE(KeyExists("Kelvara.SampleNoUnreg.1\\Clsid"));
}

TEST_F(SelfRegistrationTest, FaultInEntryPointGivesFalseAndTheProcessGoesOn)
{
    const std::string fault = Install("SampleFaultEntry.dll", "SampleFaultEntry.dll");
    const std::string good = Install("ForgeSampleServer.dll", "Good.dll", "Kelvara.SampleServer.1");

    EXPECT_FALSE(Run(fault, true));
    EXPECT_EQ(nullptr, GetModuleHandleA(fault.c_str())) << "the faulting server stays loaded";
    EXPECT_FALSE(Run(fault, false));
    EXPECT_EQ(nullptr, GetModuleHandleA(fault.c_str()));

    EXPECT_TRUE(Run(good, true)) << "a registration after a fault";
    EXPECT_TRUE(KeyExists("Kelvara.SampleServer.1\\Clsid"));
    EXPECT_TRUE(Run(good, false));

    // C++ exceptions of our own still work after the fault was caught.
    EXPECT_THROW(throw std::runtime_error("after"), std::runtime_error);
}

DWORD WINAPI LoadOnOtherThread(void* pPath)
{
    const HMODULE hModule = LoadLibraryA(static_cast<const char*>(pPath));
    if (!hModule) return 1;
    FreeLibrary(hModule);
    return 0;
}

TEST_F(SelfRegistrationTest, FaultInDllMainLeavesTheLoaderUsable)
{
    const std::string fault = Install("SampleFaultMain.dll", "SampleFaultMain.dll");
    const std::string good = Install("ForgeSampleServer.dll", "Good.dll", "Kelvara.SampleServer.1");
    const std::string plain = Install("ForgeSampleServer.dll", "Plain.dll");

    EXPECT_FALSE(Run(fault, true));
    EXPECT_FALSE(Run(fault, false));
    EXPECT_EQ(nullptr, GetModuleHandleA(fault.c_str()));

    // The loader's lock is free: another thread can load a module. A held lock
    // would block it for good; the wait only bounds a hang, it is no timing.
    HANDLE hThread = CreateThread(nullptr, 0, LoadOnOtherThread, const_cast<char*>(plain.c_str()), 0, nullptr);
    ASSERT_NE(nullptr, hThread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(hThread, 60000)) << "the loader is still locked";
    DWORD exitCode = 2;
    GetExitCodeThread(hThread, &exitCode);
    CloseHandle(hThread);
    EXPECT_EQ(0u, exitCode);

    EXPECT_TRUE(Run(good, true));
    EXPECT_TRUE(Run(good, false));
}

TEST_F(SelfRegistrationTest, ExecutableRouteWaitsAndIsAlwaysFalse)
{
    const std::string local = Install("LocalSrv.exe", "LocalSrv.EXE", "Kelvara.LocalSample.1");
    EXPECT_FALSE(Run(local, true));
    const std::string clsid = ReadDefault("Kelvara.LocalSample.1\\Clsid");
    ASSERT_FALSE(clsid.empty()) << "the server did not register itself";
    EXPECT_EQ(0, lstrcmpiA(local.c_str(), ReadDefault("CLSID\\" + clsid + "\\LocalServer32").c_str()));
    EXPECT_FALSE(Run(local, false));
    EXPECT_FALSE(KeyExists("Kelvara.LocalSample.1"));

    // The slow server registers two seconds after it starts: seen at once
    // after the call only if the call waited for the process to end.
    const std::string slow = Install("SlowSrv.exe", "SlowSrv.ExE", "Kelvara.SlowSample.1");
    EXPECT_FALSE(Run(slow, true));
    EXPECT_TRUE(KeyExists("Kelvara.SlowSample.1\\Clsid"));

    // Installed under a catalogue name it takes that entry's ProgID.
    const std::string build = Install("LocalSrv.exe", "KfBuildSrv.exe", "ForgeBuild.Server.1");
    EXPECT_FALSE(Run(build, true));
    EXPECT_TRUE(KeyExists("ForgeBuild.Server.1\\Clsid"));
}

TEST_F(SelfRegistrationTest, OnlyAnExeEndingTakesTheExecutableRoute)
{
    // An in-process server named like a backup of an executable is loaded.
    const std::string backup = Install("ForgeSampleServer.dll", "Server.exe.bak", "Kelvara.SampleServer.1");
    EXPECT_TRUE(Run(backup, true));
    EXPECT_EQ(backup, ReadDefault("CLSID\\" + ReadDefault("Kelvara.SampleServer.1\\Clsid") + "\\InprocServer32"));
    EXPECT_TRUE(Run(backup, false));

    // An executable under such a name is only mapped: it exports no entry
    // point, so it is never started and registers nothing.
    const std::string exeBackup = Install("LocalSrv.exe", "LocalSrv.exe.bak", "Kelvara.LocalSample.1");
    EXPECT_FALSE(Run(exeBackup, true));
    EXPECT_FALSE(KeyExists("Kelvara.LocalSample.1"));

    // A path of three characters: a bare name found in the current directory.
    Install("ForgeSampleServer.dll", "cwd\\x.d");
    EXPECT_TRUE(Run("x.d", true));
    EXPECT_TRUE(KeyExists("Kelvara.SampleServer.1\\Clsid"));
    EXPECT_TRUE(Run("x.d", false));
}

TEST_F(SelfRegistrationTest, EmptyOrOverlongPathDoesNothing)
{
    EXPECT_FALSE(Run("", true));
    const std::string longFolder = m_dir.Path() + "\\" + std::string(MAX_PATH, 'k');
    EXPECT_FALSE(Run(longFolder + "\\LocalSrv.exe", true));
    EXPECT_FALSE(Run(longFolder + "\\Server.dll", false));
    EXPECT_FALSE(KeyExists("Kelvara.LocalSample.1"));
}

} // namespace

namespace {
volatile bool g_bStopRecursion = false;

int RecurseForever(int nDepth)
{
    volatile char page[4096];
    page[0] = static_cast<char>(nDepth);
    if (g_bStopRecursion) return page[0];
    return RecurseForever(nDepth + 1) + page[0];
}

void OverflowStack(void*) { RecurseForever(0); }
}

TEST_F(SelfRegistrationTest, TheGuardCatchesEveryStackOverflowOfAThread)
{
    for (int round = 0; round < 4; ++round)
        EXPECT_EQ(static_cast<DWORD>(EXCEPTION_STACK_OVERFLOW), CallFaultGuarded(OverflowStack, nullptr)) << round;

    // Servers overflowing in their entry point or in DllMain, and one throwing
    // the way a Visual C++ server throws, each several times in a row.
    const std::string entry = Install("SampleOverflowEntry.dll", "SampleOverflowEntry.dll");
    const std::string main = Install("SampleOverflowMain.dll", "SampleOverflowMain.dll");
    const std::string thrower = Install("SampleThrowEntry.dll", "SampleThrowEntry.dll");
    const std::string good = Install("ForgeSampleServer.dll", "Good.dll", "Kelvara.SampleServer.1");
    for (int round = 0; round < 3; ++round) {
        EXPECT_FALSE(Run(entry, true)) << round;
        EXPECT_FALSE(Run(main, true)) << round;
        EXPECT_FALSE(Run(thrower, false)) << round;
        EXPECT_EQ(nullptr, GetModuleHandleA(entry.c_str()));
        EXPECT_EQ(nullptr, GetModuleHandleA(thrower.c_str()));
    }
    EXPECT_TRUE(Run(good, true));
    EXPECT_TRUE(Run(good, false));
    EXPECT_THROW(throw std::runtime_error("after"), std::runtime_error);
}
