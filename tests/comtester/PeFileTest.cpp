// The module reader against the real sample servers and against hostile
// files: empty, folders, locked, truncated and byte-flipped copies. Parsed
// buffers end at a page that may not be read, so any read past the end
// faults instead of passing unseen.
#include "engine/diagnosis/PeFile.h"
#include "system/FileVersion.h"
#include "common/TestSupport.h"
#include <gtest/gtest.h>
#include <fstream>
#include <iterator>
#include <random>

namespace {

std::string Sample(const std::string& name)
{
    return TestProgramFolder() + "\\" + name;
}

std::vector<BYTE> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool HasImport(const PeFileInfo& info, const char* name)
{
    for (const std::string& import : info.imports)
        if (lstrcmpiA(import.c_str(), name) == 0) return true;
    return false;
}

// Copies bytes so that they end exactly where an inaccessible page begins.
class CGuardedBuffer {
public:
    explicit CGuardedBuffer(const std::vector<BYTE>& bytes)
    {
        SYSTEM_INFO system;
        GetSystemInfo(&system);
        const size_t page = system.dwPageSize;
        m_nPages = (bytes.size() + page - 1) / page + 1;
        m_pBase = static_cast<BYTE*>(VirtualAlloc(nullptr, m_nPages * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        VirtualProtect(m_pBase + (m_nPages - 1) * page, page, PAGE_NOACCESS, &old);
        m_pData = m_pBase + (m_nPages - 1) * page - bytes.size();
        if (!bytes.empty()) memcpy(m_pData, bytes.data(), bytes.size());
        m_nSize = bytes.size();
    }
    ~CGuardedBuffer() { VirtualFree(m_pBase, 0, MEM_RELEASE); }
    PeFileInfo Parse() const { return ParsePeImage(m_pData, m_nSize); }

private:
    BYTE* m_pBase = nullptr;
    BYTE* m_pData = nullptr;
    size_t m_nPages = 0, m_nSize = 0;
};

// What every answer must hold to, however damaged the input.
void ExpectSane(const PeFileInfo& info, size_t size)
{
    EXPECT_LE(info.exports.size(), 65536u);
    EXPECT_LE(info.imports.size(), 4096u);
    for (const std::string& name : info.imports) EXPECT_LT(name.size(), size_t(MAX_PATH) + 1);
    if (!info.bModule) {
        EXPECT_TRUE(info.exports.empty() && info.imports.empty() && !info.bHasVersion);
    }
    if (size < 64) {
        EXPECT_FALSE(info.bModule);
    }
}

} // namespace

TEST(PeFile, ReadsTheSampleServersAsTheSystemSeesThem)
{
    const WORD own = sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;
    const WORD other = sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64;

    const PeFileInfo server = ReadPeFile(Sample("ForgeSampleServer.dll").c_str());
    ASSERT_TRUE(server.bModule);
    EXPECT_EQ(own, server.wMachine);
    EXPECT_TRUE(server.bDll);
    EXPECT_TRUE(server.Exports("DllRegisterServer"));
    EXPECT_TRUE(server.Exports("DllUnregisterServer"));
    EXPECT_FALSE(server.Exports("DllGetClassObject"));
    EXPECT_TRUE(HasImport(server, "kernel32.dll"));
    EXPECT_TRUE(HasImport(server, "advapi32.dll"));
    EXPECT_FALSE(server.bExportsDamaged || server.bImportsDamaged);
    // The version words agree with the system's version functions.
    DWORD ms = 0, ls = 0;
    ASSERT_TRUE(GetFileVersion(Sample("ForgeSampleServer.dll").c_str(), ms, ls));
    EXPECT_TRUE(server.bHasVersion);
    EXPECT_EQ(ms, server.dwVersionMS);
    EXPECT_EQ(ls, server.dwVersionLS);
    EXPECT_FALSE(server.bOleSelfRegister);

    const PeFileInfo fixture = ReadPeFile(Sample("Versioned_6_0_2_26.dll").c_str());
    EXPECT_TRUE(fixture.Exports("VersionedFixture"));
    EXPECT_FALSE(fixture.Exports("DllRegisterServer"));
    EXPECT_EQ(MAKELONG(0, 6), fixture.dwVersionMS);
    EXPECT_EQ(MAKELONG(26, 2), fixture.dwVersionLS);

    EXPECT_TRUE(HasImport(ReadPeFile(Sample("SampleMissingDep.dll").c_str()), "ForgeAbsentHelper.dll"));
    const PeFileInfo otherBitness = ReadPeFile(Sample("SampleOtherBitness.dll").c_str());
    EXPECT_EQ(other, otherBitness.wMachine);
    EXPECT_TRUE(otherBitness.Exports("DllRegisterServer"));

    const PeFileInfo exe = ReadPeFile(Sample("LocalSrv.exe").c_str());
    EXPECT_TRUE(exe.bModule);
    EXPECT_FALSE(exe.bDll);
    EXPECT_TRUE(exe.exports.empty());
}

TEST(PeFile, AnEmptyFileAFolderTextAndALockedFileAreNoModules)
{
    CTempDir dir;
    EXPECT_FALSE(ReadPeFile(dir.MakeFile("empty.dll", "").c_str()).bModule);
    EXPECT_FALSE(ReadPeFile(dir.MakeFile("text.dll", "MZ but nothing after it").c_str()).bModule);
    const PeFileInfo folder = ReadPeFile(dir.MakeDir("folder.dll").c_str());
    EXPECT_TRUE(folder.bFolder);
    EXPECT_FALSE(folder.bModule);
    const PeFileInfo missing = ReadPeFile((dir / "missing.dll").c_str());
    EXPECT_FALSE(missing.bModule);
    EXPECT_NE(0u, missing.dwReadError);

    const std::string locked = dir.CopyIn(Sample("ForgeSampleServer.dll"), "locked.dll");
    HANDLE hLock = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hLock);
    const PeFileInfo lockedInfo = ReadPeFile(locked.c_str());
    CloseHandle(hLock);
    EXPECT_FALSE(lockedInfo.bModule);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), lockedInfo.dwReadError);
    EXPECT_TRUE(ReadPeFile(locked.c_str()).bModule) << "readable again once the lock is gone";
}

TEST(PeFile, TruncatedAndByteFlippedCopiesNeverReadPastTheirBuffer)
{
    for (const char* name : {"ForgeSampleServer.dll", "SampleOtherBitness.dll", "Versioned_5_1_2600_0.dll"}) {
        const std::vector<BYTE> image = ReadAll(Sample(name));
        ASSERT_GT(image.size(), 4096u) << name;
        const PeFileInfo whole = CGuardedBuffer(image).Parse();
        ASSERT_TRUE(whole.bModule) << name;

        // Cut everywhere in the headers, then at steps through the rest.
        for (size_t cut = 0; cut < image.size(); cut += cut < 1024 ? 3 : 397) {
            const std::vector<BYTE> part(image.begin(), image.begin() + static_cast<ptrdiff_t>(cut));
            ExpectSane(CGuardedBuffer(part).Parse(), cut);
        }
        // Copies with bytes overwritten, in the headers and tables most of all.
        std::mt19937 random(0x4B46u);
        for (int round = 0; round < 500; ++round) {
            std::vector<BYTE> copy = image;
            const int flips = 1 + static_cast<int>(random() % 8);
            for (int f = 0; f < flips; ++f) {
                const size_t at = round % 2 ? random() % 1024 : random() % copy.size();
                copy[at] = static_cast<BYTE>(random() % 3 == 0 ? 0xFF : random());
            }
            ExpectSane(CGuardedBuffer(copy).Parse(), copy.size());
        }
    }
}

TEST(PeFile, TablesThatPointOutsideTheFileGiveThePartThatCouldBeRead)
{
    const std::vector<BYTE> image = ReadAll(Sample("ForgeSampleServer.dll"));
    const DWORD peOffset = *reinterpret_cast<const DWORD*>(&image[0x3C]);
    const size_t optional = peOffset + 4 + sizeof(IMAGE_FILE_HEADER);
    const size_t directories = optional + (sizeof(void*) == 8 ? offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory)
                                                               : offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory));
    auto withDirectory = [&](int index, DWORD rva, DWORD size) {
        std::vector<BYTE> copy = image;
        memcpy(&copy[directories + index * 8], &rva, 4);
        memcpy(&copy[directories + index * 8 + 4], &size, 4);
        return CGuardedBuffer(copy).Parse();
    };
    const PeFileInfo badExports = withDirectory(IMAGE_DIRECTORY_ENTRY_EXPORT, 0x7FFFFFF0, 40);
    EXPECT_TRUE(badExports.bModule);
    EXPECT_TRUE(badExports.bExportsDamaged);
    EXPECT_TRUE(badExports.exports.empty());
    EXPECT_FALSE(badExports.imports.empty()) << "the import table is still read";

    const PeFileInfo badImports = withDirectory(IMAGE_DIRECTORY_ENTRY_IMPORT, 0xFFFFFFF0, 20);
    EXPECT_TRUE(badImports.bImportsDamaged);
    EXPECT_TRUE(badImports.Exports("DllRegisterServer")) << "the export table is still read";

    // A PE header offset past the end, and an absurd number of sections.
    std::vector<BYTE> copy = image;
    const DWORD beyond = 0xFFFFFF00;
    memcpy(&copy[0x3C], &beyond, 4);
    EXPECT_FALSE(CGuardedBuffer(copy).Parse().bModule);
    copy = image;
    copy[peOffset + 6] = 0xFF;
    copy[peOffset + 7] = 0xFF;
    ExpectSane(CGuardedBuffer(copy).Parse(), copy.size());
}
