#include "system/FileVersion.h"
#include "system/SystemLibrary.h"
#include <new>
#include <vector>

namespace {
// version.dll is no KnownDLL: imported, it would be searched for in the
// program's folder first. It is taken from the system folder alone, once.
struct VersionCalls {
    using SizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
    using InfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
    using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);
    SizeFn pGetSize = nullptr;
    InfoFn pGetInfo = nullptr;
    QueryFn pQuery = nullptr;

    VersionCalls()
    {
        const HMODULE hVersion = LoadSystemLibrary(L"version.dll");
        pGetSize = SystemProc<SizeFn>(hVersion, "GetFileVersionInfoSizeW");
        pGetInfo = SystemProc<InfoFn>(hVersion, "GetFileVersionInfoW");
        pQuery = SystemProc<QueryFn>(hVersion, "VerQueryValueW");
    }
    bool IsComplete() const { return pGetSize && pGetInfo && pQuery; }
};

const VersionCalls& Version()
{
    static const VersionCalls s_calls;
    return s_calls;
}
}

bool GetFileVersion(const CString& strPath, DWORD& dwVersionMS, DWORD& dwVersionLS)
{
    dwVersionMS = 0;
    dwVersionLS = 0;
    // The wide calls: a path of few characters may still pass MAX_PATH bytes.
    const VersionCalls& calls = Version();
    if (!calls.IsComplete()) return false;
    const std::wstring path = strPath.ToWide();
    DWORD dwHandle = 0;
    const DWORD dwSize = calls.pGetSize(path.c_str(), &dwHandle);
    if (dwSize == 0) return false;

    std::vector<BYTE> block;
    try {
        block.resize(static_cast<size_t>(dwSize) + 1);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!calls.pGetInfo(path.c_str(), dwHandle, dwSize, block.data())) return false;

    VS_FIXEDFILEINFO* pInfo = nullptr;
    UINT uLength = 0;
    if (!calls.pQuery(block.data(), L"\\", reinterpret_cast<void**>(&pInfo), &uLength) || !pInfo) return false;
    dwVersionMS = pInfo->dwFileVersionMS;
    dwVersionLS = pInfo->dwFileVersionLS;
    return true;
}

CString FormatFileVersion(DWORD dwVersionMS, DWORD dwVersionLS)
{
    CString text;
    text.Format("%u.%u.%u.%u", HIWORD(dwVersionMS), LOWORD(dwVersionMS), HIWORD(dwVersionLS), LOWORD(dwVersionLS));
    return text;
}
