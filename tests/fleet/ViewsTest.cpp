// Both programs on one machine whose registry and system folders are laid out
// as a 64-bit Windows has them: the tool's keys in one registry view only, and
// a 32-bit server's import in the 32-bit system folder only.
#include "demo/DemoFixture.h"
#include "engine/components/FileSearch.h"
#include "engine/components/SelfRegistration.h"
#include "engine/diagnosis/ImportResolver.h"
#include "engine/diagnosis/PeFile.h"

namespace {
const char TOOL_KEY[] = "SOFTWARE\\Kelvara\\Forge\\8.0";
const char CURRENT_VERSION_KEY[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

std::string Program(const char* pszName)
{
    return "\"" + TestProgramFolder() + "\\" + pszName + "\" ";
}

// /check's line from the 32-bit console twin and from the 64-bit program.
std::pair<std::string, std::string> CheckBoth()
{
    return {RunProcess(Program("ForgeSupport.com") + "/check").out, RunProcess(Program("ForgeSupport64.exe") + "/check").out};
}

REGSAM View(int nBits)
{
    return nBits == 64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

// One value in one registry view, put back as it was (and its key removed
// when it had none) however the test ends.
class CViewValueGuard {
public:
    CViewValueGuard(const char* pszKey, const char* pszValue, int nBits) : m_key(pszKey), m_value(pszValue), m_nBits(nBits)
    {
        for (size_t at = m_key.find('\\'); ; at = m_key.find('\\', at + 1)) {
            const std::string key = m_key.substr(0, at);
            HKEY hKey = nullptr;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ | View(nBits), &hKey) == ERROR_SUCCESS)
                RegCloseKey(hKey);
            else
                m_created.insert(m_created.begin(), key);
            if (at == std::string::npos) break;
        }
        HKEY hKey = nullptr;
        m_bHadKey = RegOpenKeyExA(HKEY_LOCAL_MACHINE, pszKey, 0, KEY_READ | View(nBits), &hKey) == ERROR_SUCCESS;
        if (!m_bHadKey) return;
        char szText[1024] = "";
        DWORD cb = sizeof szText - 1, dwType = 0;
        m_bHadValue = RegQueryValueExA(hKey, pszValue, nullptr, &dwType, reinterpret_cast<BYTE*>(szText), &cb) == ERROR_SUCCESS;
        m_text.assign(szText, m_bHadValue && cb > 0 ? cb - 1 : 0);
        RegCloseKey(hKey);
    }
    ~CViewValueGuard()
    {
        if (!m_bHadKey) {
            for (const std::string& key : m_created) RegDeleteKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), View(m_nBits), 0);
            return;
        }
        HKEY hKey = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, m_key.c_str(), 0, KEY_SET_VALUE | View(m_nBits), &hKey) != ERROR_SUCCESS) return;
        if (m_bHadValue)
            RegSetValueExA(hKey, m_value.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(m_text.c_str()),
                           static_cast<DWORD>(m_text.size() + 1));
        else
            RegDeleteValueA(hKey, m_value.c_str());
        RegCloseKey(hKey);
    }

private:
    std::string m_key, m_value, m_text;
    std::vector<std::string> m_created;   // keys the test may create, deepest first
    int m_nBits;
    bool m_bHadKey = false, m_bHadValue = false;
};

std::string RegArguments(const char* pszKey, const char* pszValue)
{
    return std::string("\"HKLM\\") + pszKey + "\" /v \"" + pszValue + "\"";
}

void WriteIn(int nBits, const char* pszKey, const char* pszValue, const std::string& text)
{
    EXPECT_EQ(0u, RunProcess("reg.exe add " + RegArguments(pszKey, pszValue) + " /d \"" + text + "\" /f /reg:" +
                             std::to_string(nBits)).exitCode);
}

void WriteOnlyIn(int nBits, const char* pszKey, const char* pszValue, const std::string& text)
{
    RunProcess("reg.exe delete " + RegArguments(pszKey, pszValue) + " /f /reg:" + std::to_string(nBits == 64 ? 32 : 64));
    WriteIn(nBits, pszKey, pszValue, text);
}
} // namespace

using ViewsTest = DemoFixture;

TEST_F(ViewsTest, TheToolsKeysAreReadInEitherViewAndBothProgramsGiveTheSameRows)
{
    // The tool's Install Location and the Common Files folder, as a 32-bit
    // or a 64-bit installer of the tool would have written them.
    CViewValueGuard install32(TOOL_KEY, "Install Location", 32), install64(TOOL_KEY, "Install Location", 64);
    CViewValueGuard common32(CURRENT_VERSION_KEY, "CommonFilesDir", 32), common64(CURRENT_VERSION_KEY, "CommonFilesDir", 64);
    const auto [baseline32, baseline64] = CheckBoth();
    EXPECT_EQ(baseline64, baseline32);
    EXPECT_NE(std::string::npos, baseline64.find("{\"file\":\"KfSql.dll\",\"verdict\":\"Missing dependency: ")) << baseline64;
    EXPECT_EQ(std::string::npos, baseline64.find("\"KfBuild.dll\"")) << "a sound row of the installation: " << baseline64;

    for (int nBits : {32, 64}) {
        WriteOnlyIn(nBits, TOOL_KEY, "Install Location", m_demo.InstallFolder());
        WriteIn(nBits, CURRENT_VERSION_KEY, "CommonFilesDir", m_demo.CommonFilesFolder());
        WriteIn(nBits == 64 ? 32 : 64, CURRENT_VERSION_KEY, "CommonFilesDir",
                    nBits == 64 ? "C:\\Program Files (x86)\\Common Files" : "C:\\Program Files\\Common Files");
        const auto [out32, out64] = CheckBoth();
        EXPECT_EQ(baseline64, out32) << "the 32-bit twin, keys in the " << nBits << "-bit view only";
        EXPECT_EQ(baseline64, out64) << "the 64-bit program, keys in the " << nBits << "-bit view only";
    }
}

TEST_F(ViewsTest, ImportsAreLookedForWhereTheLoaderOfTheFilesBitnessLooks)
{
    char szWow[MAX_PATH] = "";
    const UINT nWow = GetSystemWow64DirectoryA(szWow, MAX_PATH);
    ASSERT_TRUE(nWow > 0 && nWow < MAX_PATH) << "the test prefix is a 64-bit one";

    // Each bitness's first system folder holds that bitness's kernel32.
    const CImportResolver resolver;
    for (int nBits : {32, 64}) {
        const CString strKernel = MakeFilePath(resolver.SearchFolders(nBits).front(), "kernel32.dll");
        EXPECT_EQ(nBits, ModuleViewBits(ReadPeFile(strKernel))) << strKernel.GetString();
    }

    // A registered 32-bit server whose runtime is in SysWOW64 only.
    const std::string runtime = std::string(szWow) + "\\KvLegacyRuntime.dll";
    const std::string server = m_demo.SystemFolder() + "\\KfSign.dll";
    ASSERT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(runtime.c_str())) << runtime;
    const std::string builtRuntime = TestProgramFolder() + "\\wow\\KvLegacyRuntime.dll";
    struct CRemoveRuntime {
        const std::string &runtime, &built, &server;
        ~CRemoveRuntime()
        {
            // Unregistering loads the server: its runtime must be there.
            CopyFileA(built.c_str(), runtime.c_str(), FALSE);
            RegisterServerFile(server.c_str(), false);
            DeleteFileA(runtime.c_str());
        }
    } removeRuntime{runtime, builtRuntime, server};
    ASSERT_TRUE(CopyFileA((TestProgramFolder() + "\\SampleWowDep.dll").c_str(), server.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(builtRuntime.c_str(), runtime.c_str(), FALSE));
    ASSERT_TRUE(RegisterServerFile(server.c_str(), true));

    const auto [sound32, sound64] = CheckBoth();
    EXPECT_EQ(std::string::npos, sound64.find("\"KfSign.dll\"")) << sound64;
    EXPECT_EQ(sound64, sound32);

    ASSERT_TRUE(DeleteFileA(runtime.c_str()));
    const auto [missing32, missing64] = CheckBoth();
    EXPECT_NE(std::string::npos, missing64.find("{\"file\":\"KfSign.dll\",\"verdict\":\"Missing dependency: KvLegacyRuntime.dll\"}"))
        << missing64;
    EXPECT_EQ(missing64, missing32);
}
