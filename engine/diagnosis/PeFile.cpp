#include "engine/diagnosis/PeFile.h"
#include "engine/diagnosis/ByteView.h"
#include "framework/CHandle.h"
#include "system/FaultGuard.h"
#include <cwctype>
#include <new>

namespace {

// Limits far above any real module; they bound the work a hostile file can cause.
constexpr unsigned long long MAX_FILE_BYTES = 256ull << 20;
constexpr WORD MAX_SECTIONS = 96;          // the loader's own limit
constexpr DWORD MAX_EXPORT_NAMES = 65536;  // ordinals are 16-bit
constexpr size_t MAX_EXPORT_NAME = 1024;
constexpr int MAX_IMPORT_DLLS = 4096;
constexpr size_t MAX_IMPORT_NAME = MAX_PATH;
constexpr int MAX_RESOURCE_ENTRIES = 4096;
constexpr DWORD RT_VERSION_ID = 16;

// The headers of one module and the mapping of its relative virtual
// addresses to file offsets.
class CPeLayout {
public:
    explicit CPeLayout(const CByteView& file) : m_file(file) {}

    bool Read(PeFileInfo& info);
    // The file offset of an address, when its bytes lie in the file.
    std::optional<unsigned long long> Offset(DWORD dwRva, DWORD dwBytes = 1) const;
    std::optional<DWORD> DwordAt(DWORD dwRva) const;
    std::optional<std::string> StringAt(DWORD dwRva, size_t nMax) const;
    IMAGE_DATA_DIRECTORY Directory(int nIndex) const;
    const CByteView& File() const { return m_file; }

private:
    CByteView m_file;
    DWORD m_dwHeaderBytes = 0;
    std::vector<IMAGE_SECTION_HEADER> m_sections;
    std::vector<IMAGE_DATA_DIRECTORY> m_directories;
};

bool CPeLayout::Read(PeFileInfo& info)
{
    const auto wMagic = m_file.At<WORD>(0);
    const auto dwPeOffset = m_file.At<DWORD>(offsetof(IMAGE_DOS_HEADER, e_lfanew));
    if (!wMagic || *wMagic != IMAGE_DOS_SIGNATURE || !dwPeOffset) return false;
    const auto dwSignature = m_file.At<DWORD>(*dwPeOffset);
    const unsigned long long nFileHeader = *dwPeOffset + 4ull;
    const auto header = m_file.At<IMAGE_FILE_HEADER>(nFileHeader);
    if (!dwSignature || *dwSignature != IMAGE_NT_SIGNATURE || !header) return false;
    const unsigned long long nOptional = nFileHeader + sizeof(IMAGE_FILE_HEADER);
    const auto wOptionalMagic = m_file.At<WORD>(nOptional);
    if (!wOptionalMagic) return false;

    unsigned long long nDirectories = 0;
    std::optional<DWORD> dwCount;
    if (*wOptionalMagic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        nDirectories = nOptional + offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
        dwCount = m_file.At<DWORD>(nOptional + offsetof(IMAGE_OPTIONAL_HEADER32, NumberOfRvaAndSizes));
    } else if (*wOptionalMagic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        nDirectories = nOptional + offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
        dwCount = m_file.At<DWORD>(nOptional + offsetof(IMAGE_OPTIONAL_HEADER64, NumberOfRvaAndSizes));
    } else {
        return false;
    }
    const auto dwHeaderBytes = m_file.At<DWORD>(nOptional + offsetof(IMAGE_OPTIONAL_HEADER32, SizeOfHeaders));
    if (!dwCount || !dwHeaderBytes) return false;

    info.bModule = true;
    info.wMachine = header->Machine;
    info.bDll = (header->Characteristics & IMAGE_FILE_DLL) != 0;
    m_dwHeaderBytes = *dwHeaderBytes;

    // A directory counts only inside the optional header the file declares.
    const unsigned long long nOptionalEnd = nOptional + header->SizeOfOptionalHeader;
    for (DWORD i = 0; i < *dwCount && i < IMAGE_NUMBEROF_DIRECTORY_ENTRIES; ++i) {
        const unsigned long long nEntry = nDirectories + i * sizeof(IMAGE_DATA_DIRECTORY);
        const auto entry = m_file.At<IMAGE_DATA_DIRECTORY>(nEntry);
        if (!entry || nEntry + sizeof(IMAGE_DATA_DIRECTORY) > nOptionalEnd) break;
        m_directories.push_back(*entry);
    }
    const WORD nSections = header->NumberOfSections < MAX_SECTIONS ? header->NumberOfSections : MAX_SECTIONS;
    for (WORD i = 0; i < nSections; ++i) {
        const auto section = m_file.At<IMAGE_SECTION_HEADER>(nOptionalEnd + i * sizeof(IMAGE_SECTION_HEADER));
        if (!section) break;
        m_sections.push_back(*section);
    }
    return true;
}

std::optional<unsigned long long> CPeLayout::Offset(DWORD dwRva, DWORD dwBytes) const
{
    const unsigned long long nEnd = static_cast<unsigned long long>(dwRva) + dwBytes;
    if (nEnd <= m_dwHeaderBytes && m_file.Contains(dwRva, dwBytes)) return dwRva;
    for (const IMAGE_SECTION_HEADER& section : m_sections) {
        const unsigned long long nStart = section.VirtualAddress;
        // Only the bytes the section takes from the file; the rest of its
        // virtual size is zeros that no file offset holds.
        if (dwRva < nStart || nEnd > nStart + section.SizeOfRawData) continue;
        const unsigned long long nOffset = section.PointerToRawData + (dwRva - nStart);
        if (m_file.Contains(nOffset, dwBytes)) return nOffset;
    }
    return std::nullopt;
}

std::optional<DWORD> CPeLayout::DwordAt(DWORD dwRva) const
{
    const auto nOffset = Offset(dwRva, sizeof(DWORD));
    return nOffset ? m_file.At<DWORD>(*nOffset) : std::nullopt;
}

std::optional<std::string> CPeLayout::StringAt(DWORD dwRva, size_t nMax) const
{
    const auto nOffset = Offset(dwRva);
    return nOffset ? m_file.StringAt(*nOffset, nMax) : std::nullopt;
}

IMAGE_DATA_DIRECTORY CPeLayout::Directory(int nIndex) const
{
    const size_t i = static_cast<size_t>(nIndex);
    return i < m_directories.size() ? m_directories[i] : IMAGE_DATA_DIRECTORY{0, 0};
}

void ReadExports(const CPeLayout& pe, PeFileInfo& info)
{
    const IMAGE_DATA_DIRECTORY dir = pe.Directory(IMAGE_DIRECTORY_ENTRY_EXPORT);
    if (dir.VirtualAddress == 0) return;
    const auto nOffset = pe.Offset(dir.VirtualAddress, sizeof(IMAGE_EXPORT_DIRECTORY));
    const auto table = nOffset ? pe.File().At<IMAGE_EXPORT_DIRECTORY>(*nOffset) : std::nullopt;
    if (!table) {
        info.bExportsDamaged = true;
        return;
    }
    const DWORD nNames = table->NumberOfNames < MAX_EXPORT_NAMES ? table->NumberOfNames : MAX_EXPORT_NAMES;
    for (DWORD i = 0; i < nNames; ++i) {
        const unsigned long long nEntryRva = table->AddressOfNames + 4ull * i;
        const auto dwNameRva = nEntryRva <= MAXDWORD ? pe.DwordAt(static_cast<DWORD>(nEntryRva)) : std::nullopt;
        const auto name = dwNameRva ? pe.StringAt(*dwNameRva, MAX_EXPORT_NAME) : std::nullopt;
        if (!name) {
            info.bExportsDamaged = true;
            return;
        }
        info.exports.push_back(*name);
    }
    if (nNames < table->NumberOfNames) info.bExportsDamaged = true;
}

void ReadImports(const CPeLayout& pe, PeFileInfo& info)
{
    const IMAGE_DATA_DIRECTORY dir = pe.Directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    if (dir.VirtualAddress == 0) return;
    for (int i = 0; i < MAX_IMPORT_DLLS; ++i) {
        const unsigned long long nRva = dir.VirtualAddress + static_cast<unsigned long long>(i) * sizeof(IMAGE_IMPORT_DESCRIPTOR);
        const auto nOffset = nRva <= MAXDWORD ? pe.Offset(static_cast<DWORD>(nRva), sizeof(IMAGE_IMPORT_DESCRIPTOR)) : std::nullopt;
        const auto entry = nOffset ? pe.File().At<IMAGE_IMPORT_DESCRIPTOR>(*nOffset) : std::nullopt;
        if (!entry) {
            info.bImportsDamaged = true;
            return;
        }
        if (entry->Name == 0) return;   // the table's terminating entry
        const auto name = pe.StringAt(entry->Name, MAX_IMPORT_NAME);
        if (!name || name->empty()) {
            info.bImportsDamaged = true;
            return;
        }
        bool bSeen = false;
        for (const std::string& strKnown : info.imports)
            bSeen = bSeen || lstrcmpiA(strKnown.c_str(), name->c_str()) == 0;
        if (!bSeen) info.imports.push_back(*name);
    }
    info.bImportsDamaged = true;   // no terminating entry within the limit
}

// ---- version resource ---------------------------------------------------------

// One block of a version resource: wLength, wValueLength, wType, a UTF-16
// key, then the value and the children, each on a 32-bit boundary.
struct VersionBlock {
    std::wstring strKey;
    CByteView value;
    CByteView children;
};

unsigned long long Align4(unsigned long long n)
{
    return (n + 3) & ~3ull;
}

std::optional<VersionBlock> ReadVersionBlock(const CByteView& view, unsigned long long nOffset)
{
    const auto wLength = view.At<WORD>(nOffset);
    const auto wValueLength = view.At<WORD>(nOffset + 2);
    const auto wType = view.At<WORD>(nOffset + 4);
    if (!wLength || !wValueLength || !wType || *wLength < 6 || !view.Contains(nOffset, *wLength)) return std::nullopt;
    const CByteView block = view.Slice(nOffset, *wLength);
    VersionBlock result{std::wstring(), CByteView(nullptr, 0), CByteView(nullptr, 0)};
    unsigned long long nPos = 6;
    for (;; nPos += 2) {
        const auto ch = block.At<WORD>(nPos);
        if (!ch) return std::nullopt;
        if (*ch == 0) break;
        result.strKey += static_cast<wchar_t>(*ch);
    }
    nPos = Align4(nPos + 2);
    // Text values count characters, binary ones bytes.
    const unsigned long long nValueBytes = *wType == 1 ? *wValueLength * 2ull : *wValueLength;
    const unsigned long long nValueBytesHere = nPos < block.Size() ? block.Size() - nPos : 0;
    result.value = block.Slice(nPos, nValueBytes < nValueBytesHere ? nValueBytes : nValueBytesHere);
    nPos = Align4(nPos + nValueBytes);
    if (nPos < block.Size()) result.children = block.Slice(nPos, block.Size() - nPos);
    return result;
}

bool SameKey(const std::wstring& strKey, const char* pszName)
{
    size_t i = 0;
    for (; pszName[i]; ++i) {
        if (i >= strKey.size()) return false;
        const wchar_t a = strKey[i] < 128 ? static_cast<wchar_t>(towlower(strKey[i])) : strKey[i];
        if (a != static_cast<wchar_t>(tolower(static_cast<unsigned char>(pszName[i])))) return false;
    }
    return i == strKey.size();
}

// Looks for a String block of that name: string tables at depth 1, their
// strings at depth 2.
bool HasVersionString(const CByteView& children, const char* pszName, int nDepth)
{
    for (unsigned long long nPos = 0; nPos < children.Size();) {
        const auto block = ReadVersionBlock(children, nPos);
        if (!block) return false;
        if (nDepth == 2 && SameKey(block->strKey, pszName)) return true;
        if (nDepth < 2 && HasVersionString(block->children, pszName, nDepth + 1)) return true;
        nPos = Align4(nPos + *children.At<WORD>(nPos));
    }
    return false;
}

void ReadVersionInfo(const CByteView& data, PeFileInfo& info)
{
    const auto root = ReadVersionBlock(data, 0);
    if (!root || !SameKey(root->strKey, "VS_VERSION_INFO")) return;
    const auto fixed = root->value.At<VS_FIXEDFILEINFO>(0);
    if (fixed && fixed->dwSignature == VS_FFI_SIGNATURE) {
        info.bHasVersion = true;
        info.dwVersionMS = fixed->dwFileVersionMS;
        info.dwVersionLS = fixed->dwFileVersionLS;
    }
    // StringFileInfo (depth 0) > string table per language (1) > strings (2).
    for (unsigned long long nPos = 0; nPos < root->children.Size();) {
        const auto block = ReadVersionBlock(root->children, nPos);
        if (!block) return;
        if (SameKey(block->strKey, "StringFileInfo") && HasVersionString(block->children, "OLESelfRegister", 1))
            info.bOleSelfRegister = true;
        nPos = Align4(nPos + *root->children.At<WORD>(nPos));
    }
}

// The first entry of a resource directory with that id (or any entry, for
// id 0); its OffsetToData, relative to the resource section.
std::optional<DWORD> ResourceEntry(const CPeLayout& pe, unsigned long long nBase, DWORD dwDirectory, DWORD dwId)
{
    const auto dir = pe.File().At<IMAGE_RESOURCE_DIRECTORY>(nBase + dwDirectory);
    if (!dir) return std::nullopt;
    const int nEntries = dir->NumberOfNamedEntries + dir->NumberOfIdEntries;
    for (int i = 0; i < nEntries && i < MAX_RESOURCE_ENTRIES; ++i) {
        const auto entry = pe.File().At<IMAGE_RESOURCE_DIRECTORY_ENTRY>(
            nBase + dwDirectory + sizeof(IMAGE_RESOURCE_DIRECTORY) + i * sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY));
        if (!entry) return std::nullopt;
        if (dwId == 0 || (!entry->NameIsString && entry->Id == dwId)) return entry->OffsetToData;
    }
    return std::nullopt;
}

void ReadVersionResource(const CPeLayout& pe, PeFileInfo& info)
{
    const IMAGE_DATA_DIRECTORY dir = pe.Directory(IMAGE_DIRECTORY_ENTRY_RESOURCE);
    const auto nBase = dir.VirtualAddress ? pe.Offset(dir.VirtualAddress, sizeof(IMAGE_RESOURCE_DIRECTORY)) : std::nullopt;
    if (!nBase) return;
    // Type, then name, then language: two directories, then a data entry.
    // Three fixed levels, so no loop of directories can form.
    const auto dwType = ResourceEntry(pe, *nBase, 0, RT_VERSION_ID);
    if (!dwType || !(*dwType & IMAGE_RESOURCE_DATA_IS_DIRECTORY)) return;
    const auto dwName = ResourceEntry(pe, *nBase, *dwType & ~IMAGE_RESOURCE_DATA_IS_DIRECTORY, 0);
    if (!dwName || !(*dwName & IMAGE_RESOURCE_DATA_IS_DIRECTORY)) return;
    const auto dwEntry = ResourceEntry(pe, *nBase, *dwName & ~IMAGE_RESOURCE_DATA_IS_DIRECTORY, 0);
    if (!dwEntry || (*dwEntry & IMAGE_RESOURCE_DATA_IS_DIRECTORY)) return;
    const auto data = pe.File().At<IMAGE_RESOURCE_DATA_ENTRY>(*nBase + *dwEntry);
    const auto nData = data ? pe.Offset(data->OffsetToData, data->Size) : std::nullopt;
    if (nData) ReadVersionInfo(pe.File().Slice(*nData, data->Size), info);
}

} // namespace

std::optional<std::string> CByteView::StringAt(unsigned long long nOffset, size_t nMaxLength) const
{
    if (nOffset >= m_n) return std::nullopt;
    const size_t nAvailable = m_n - static_cast<size_t>(nOffset);
    const size_t nScan = nAvailable < nMaxLength + 1 ? nAvailable : nMaxLength + 1;
    const void* pNul = std::memchr(m_p + nOffset, '\0', nScan);
    if (!pNul) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(m_p + nOffset), static_cast<const BYTE*>(pNul) - (m_p + nOffset));
}

bool PeFileInfo::Exports(const char* pszName) const
{
    for (const std::string& strName : exports)
        if (strName == pszName) return true;
    return false;
}

PeFileInfo ParsePeImage(const BYTE* pData, size_t nSize)
{
    PeFileInfo info;
    CPeLayout pe(CByteView(pData, nSize));
    if (!pe.Read(info)) return info;
    ReadExports(pe, info);
    ReadImports(pe, info);
    ReadVersionResource(pe, info);
    return info;
}

namespace {

struct MappedParse {
    const BYTE* pData;
    size_t nSize;
    PeFileInfo info;
};

void ParseMapped(void* pContext)
{
    auto* pParse = static_cast<MappedParse*>(pContext);
    pParse->info = ParsePeImage(pParse->pData, pParse->nSize);
}

} // namespace

PeFileInfo ReadPeFile(const CString& strPath)
{
    PeFileInfo info;
    const std::wstring path = strPath.ToWide();
    const DWORD dwAttributes = GetFileAttributesW(path.c_str());
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        info.bFolder = true;
        return info;
    }
    const CHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size = {};
    if (!file.IsValid() || !GetFileSizeEx(file.Get(), &size)) {
        info.dwReadError = GetLastError() ? GetLastError() : ERROR_READ_FAULT;
        return info;
    }
    if (size.QuadPart == 0) return info;   // nothing to map, nor to read

    // Mapped as data, so that only the pages the headers and tables occupy
    // are read. A file cut short by someone else meanwhile raises an in-page
    // error on reading: the guard turns that into a read error.
    const CHandle mapping(CreateFileMappingA(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    const unsigned long long nSize = static_cast<unsigned long long>(size.QuadPart) < MAX_FILE_BYTES
                                         ? static_cast<unsigned long long>(size.QuadPart) : MAX_FILE_BYTES;
    const void* pView = mapping.IsValid() ? MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(nSize)) : nullptr;
    if (!pView) {
        info.dwReadError = GetLastError() ? GetLastError() : ERROR_READ_FAULT;
        return info;
    }
    MappedParse parse = {static_cast<const BYTE*>(pView), static_cast<size_t>(nSize), PeFileInfo()};
    const DWORD dwFault = CallFaultGuarded(ParseMapped, &parse);
    UnmapViewOfFile(pView);
    if (dwFault) {
        info.dwReadError = ERROR_READ_FAULT;
        return info;
    }
    return parse.info;
}

int ModuleViewBits(const PeFileInfo& file)
{
    if (!file.bModule) return 0;
    switch (file.wMachine) {
    case IMAGE_FILE_MACHINE_AMD64:
    case IMAGE_FILE_MACHINE_ARM64: return 64;
    case IMAGE_FILE_MACHINE_I386:  return 32;
    default:                       return 0;
    }
}
