#include "system/Paths.h"
#include "framework/CHandle.h"

namespace {
// Calls get(buffer, size) until the answer fits: such calls return the
// size needed when the buffer is too small, else the length written.
template <class Get>
std::wstring GrowingCall(Get get)
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (int nTry = 0; nTry < 4; ++nTry) {
        const DWORD nResult = get(&buffer[0], static_cast<DWORD>(buffer.size()));
        if (nResult == 0) return std::wstring();
        if (nResult < buffer.size()) {
            buffer.resize(nResult);
            return buffer;
        }
        buffer.assign(static_cast<size_t>(nResult) + 1, L'\0');
    }
    return std::wstring();
}

bool FileIdentity(const CString& strPath, BY_HANDLE_FILE_INFORMATION& info)
{
    const CHandle file(CreateFileW(strPath.ToWide().c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file.IsValid() && GetFileInformationByHandle(file.Get(), &info);
}
}

CString FullPathName(const CString& strPath, int* pnNameOffset)
{
    if (strPath.IsEmpty()) return CString();
    const std::wstring path = strPath.ToWide();
    const std::wstring full = GrowingCall([&](wchar_t* pBuffer, DWORD nSize) {
        return GetFullPathNameW(path.c_str(), nSize, pBuffer, nullptr);
    });
    if (full.empty()) return CString();
    const CString strFull = CString::FromWide(full.c_str(), static_cast<int>(full.size()));
    if (pnNameOffset) {
        const size_t nSlash = full.find_last_of(L"\\/");
        const std::wstring folder = full.substr(0, nSlash == std::wstring::npos ? 0 : nSlash + 1);
        *pnNameOffset = CString::FromWide(folder.c_str(), static_cast<int>(folder.size())).GetLength();
    }
    return strFull;
}

CString LongFullPath(const CString& strPath)
{
    const CString strFull = FullPathName(strPath);
    if (strFull.IsEmpty()) return strPath;
    const std::wstring full = strFull.ToWide();
    const std::wstring longPath = GrowingCall([&](wchar_t* pBuffer, DWORD nSize) {
        return GetLongPathNameW(full.c_str(), pBuffer, nSize);
    });
    return longPath.empty() ? strFull : CString::FromWide(longPath.c_str(), static_cast<int>(longPath.size()));
}

CString ModuleFilePath(HMODULE hModule)
{
    // GetModuleFileNameW returns the buffer's size, cut, when it is too small.
    std::wstring buffer(MAX_PATH, L'\0');
    for (int nTry = 0; nTry < 6; ++nTry) {
        const DWORD nLength = GetModuleFileNameW(hModule, &buffer[0], static_cast<DWORD>(buffer.size()));
        if (nLength == 0) return CString();
        if (nLength < buffer.size()) return CString::FromWide(buffer.c_str(), static_cast<int>(nLength));
        buffer.assign(buffer.size() * 2, L'\0');
    }
    return CString();
}

size_t PathCharacters(const CString& strPath)
{
    return strPath.ToWide().size();
}

bool IsSameFile(const CString& strA, const CString& strB)
{
    if (strA.IsEmpty() || strB.IsEmpty()) return false;
    BY_HANDLE_FILE_INFORMATION a, b;
    if (FileIdentity(strA, a) && FileIdentity(strB, b))
        return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
               a.nFileIndexLow == b.nFileIndexLow;
    return LongFullPath(strA).CompareNoCase(LongFullPath(strB)) == 0;
}
