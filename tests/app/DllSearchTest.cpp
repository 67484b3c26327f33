// The programs load nothing from their own folder but themselves, and each
// asks for the rights it needs. Wine searches the program's folder first, as
// Windows does, for a DLL it is told to take native first. A child of a Wine
// process takes WINEDLLOVERRIDES from the Unix environment, not from the one
// its parent gives it: the test sets the same override for each program in
// the prefix's registry (HKCU\Software\Wine\AppDefaults), where Wine reads it
// at every start and Windows never looks.
#include "engine/diagnosis/PeFile.h"
#include "common/TestSupport.h"
#include <gtest/gtest.h>
#include <fstream>
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {
// Sets an environment variable for the life of the object (children inherit
// it) and puts back what was there.
class CScopedEnvironment {
public:
    CScopedEnvironment(const char* pszName, const std::string& value) : m_name(pszName)
    {
        char szOld[4096];
        const DWORD nLength = GetEnvironmentVariableA(pszName, szOld, sizeof szOld);
        if (nLength > 0 && nLength < sizeof szOld) m_old = szOld;
        SetEnvironmentVariableA(pszName, value.c_str());
    }
    ~CScopedEnvironment() { SetEnvironmentVariableA(m_name.c_str(), m_old ? m_old->c_str() : nullptr); }
private:
    std::string m_name;
    std::optional<std::string> m_old;
};

std::vector<std::string> OwnPrograms()
{
    if (sizeof(void*) == 8) return {"ForgeSupport64.exe"};
    return {"ForgeSupport.exe", "ForgeSupport.com"};
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](char ch) { return static_cast<char>(tolower(ch)); });
    return text;
}

// The file header's characteristics (IMAGE_FILE_*), or 0.
WORD FileCharacteristics(const std::string& program)
{
    std::ifstream file(program, std::ios::binary);
    IMAGE_DOS_HEADER dos = {};
    IMAGE_FILE_HEADER header = {};
    DWORD dwSignature = 0;
    if (!file.read(reinterpret_cast<char*>(&dos), sizeof dos) || !file.seekg(dos.e_lfanew) ||
        !file.read(reinterpret_cast<char*>(&dwSignature), sizeof dwSignature) || dwSignature != IMAGE_NT_SIGNATURE ||
        !file.read(reinterpret_cast<char*>(&header), sizeof header))
        return 0;
    return header.Characteristics;
}

// The manifest's requested level, or empty.
std::string ExecutionLevel(const std::string& program)
{
    const HMODULE hProgram = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!hProgram) return std::string();
    std::string level;
    if (const HRSRC hManifest = FindResourceA(hProgram, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24))) {
        const char* pText = static_cast<const char*>(LockResource(LoadResource(hProgram, hManifest)));
        const std::string text(pText, SizeofResource(hProgram, hManifest));
        const size_t nAt = text.find("requestedExecutionLevel level=\"");
        if (nAt != std::string::npos) {
            const size_t nStart = nAt + 31;
            level = text.substr(nStart, text.find('"', nStart) - nStart);
        }
    }
    FreeLibrary(hProgram);
    return level;
}
}

TEST(DllSearchTest, APlantedVersionDllIsNeverCalled)
{
    const CTempDir temp;
    const std::string planted = TestProgramFolder() + "\\planted\\";
    temp.CopyIn(planted + "VERSION.dll", "VERSION.dll");
    temp.CopyIn(planted + "PlantedControl.exe", "PlantedControl.exe");
    // A folder with one component whose file version the check reads.
    temp.CopyIn(TestProgramFolder() + "\\Versioned_6_0_2_26.dll", "system\\KfAutomate.dll");
    std::vector<std::string> started = OwnPrograms();
    for (const std::string& program : started) temp.CopyIn(TestProgramFolder() + "\\" + program, program);
    started.push_back("PlantedControl.exe");
    std::vector<std::unique_ptr<CScopedRegValue>> overrides;
    for (const std::string& program : started)
        overrides.push_back(std::make_unique<CScopedRegValue>(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\" + program + "\\DllOverrides",
                                                              "version", std::string("native,builtin")));

    // The control proves that this system loads and calls a planted copy.
    {
        const CScopedEnvironment marker("FORGE_PLANT_MARKER", temp / "control.marker");
        EXPECT_EQ(0u, RunProcess("\"" + (temp / "PlantedControl.exe") + "\"", temp.Path()).exitCode);
        ASSERT_NE(std::string::npos, Lower(ReadFileText(temp / "control.marker")).find("called by " + Lower(temp / "PlantedControl.exe")))
            << "the planted DLL was not called: this system does not reproduce the search order";
    }
    // Wine's own user32 imports version.dll (Windows' does not), so under Wine
    // the planted copy is in every process from its start; ours never call it.
    const bool bWine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    for (const std::string& program : OwnPrograms()) {
        const std::string markerPath = temp / (program + ".marker");
        const CScopedEnvironment marker("FORGE_PLANT_MARKER", markerPath);
        const ProcessOutput run = RunProcess("\"" + (temp / program) + "\" /check /folder \"" + (temp / "system") + "\"", temp.Path());
        EXPECT_NE(std::string::npos, run.out.find("KfAutomate.dll")) << program << ": " << run.out << run.err;
        const std::string text = Lower(ReadFileText(markerPath));
        if (!bWine) {
            EXPECT_EQ("", text) << program;
        }
        EXPECT_EQ(std::string::npos, text.find("loaded later")) << program << ":\n" << text;
        EXPECT_EQ(std::string::npos, text.find("called by " + Lower(temp / program))) << program << ":\n" << text;
    }
}

TEST(DllSearchTest, ProgramsImportOnlyKnownDllsAndAskForTheirRights)
{
    // KnownDLLs, which the system maps from its own folder whatever the
    // program's folder holds, and comctl32, which the manifest binds.
    const std::vector<std::string> allowed = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll",
                                              "ole32.dll", "oleaut32.dll", "comdlg32.dll", "rpcrt4.dll", "msvcrt.dll",
                                              "shlwapi.dll", "imm32.dll", "ws2_32.dll", "comctl32.dll"};
    for (const std::string& program : OwnPrograms()) {
        const PeFileInfo info = ReadPeFile((TestProgramFolder() + "\\" + program).c_str());
        ASSERT_TRUE(info.bModule) << program;
        EXPECT_FALSE(info.imports.empty());
        for (const std::string& import : info.imports)
            EXPECT_NE(allowed.end(), std::find(allowed.begin(), allowed.end(), Lower(import))) << program << " imports " << import;
        // The console twin runs with its caller's rights; the sheet asks for the highest.
        const bool bConsole = program.size() > 4 && program.compare(program.size() - 4, 4, ".com") == 0;
        EXPECT_EQ(bConsole ? "asInvoker" : "highestAvailable", ExecutionLevel(TestProgramFolder() + "\\" + program)) << program;
        // A 32-bit program has 4 GB of address space on a 64-bit system only when it says so.
        EXPECT_TRUE(FileCharacteristics(TestProgramFolder() + "\\" + program) & IMAGE_FILE_LARGE_ADDRESS_AWARE) << program;
    }
}
