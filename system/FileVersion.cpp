#include "system/FileVersion.h"
#include <new>
#include <vector>

bool GetFileVersion(const CString& strPath, DWORD& dwVersionMS, DWORD& dwVersionLS)
{
    dwVersionMS = 0;
    dwVersionLS = 0;
    // The wide calls: a path of few characters may still pass MAX_PATH bytes.
    const std::wstring path = strPath.ToWide();
    DWORD dwHandle = 0;
    const DWORD dwSize = GetFileVersionInfoSizeW(path.c_str(), &dwHandle);
    if (dwSize == 0) return false;

    std::vector<BYTE> block;
    try {
        block.resize(static_cast<size_t>(dwSize) + 1);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!GetFileVersionInfoW(path.c_str(), dwHandle, dwSize, block.data())) return false;

    VS_FIXEDFILEINFO* pInfo = nullptr;
    UINT uLength = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&pInfo), &uLength) || !pInfo) return false;
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
