#include "system/FileWrite.h"
#include <algorithm>

bool WriteAllBytes(HANDLE hFile, const void* pBytes, size_t nBytes)
{
    const BYTE* p = static_cast<const BYTE*>(pBytes);
    size_t nDone = 0;
    while (nDone < nBytes) {
        DWORD nWritten = 0;
        const DWORD nChunk = static_cast<DWORD>(std::min<size_t>(nBytes - nDone, 1 << 20));
        if (!WriteFile(hFile, p + nDone, nChunk, &nWritten, nullptr) || nWritten != nChunk) return false;
        nDone += nWritten;
    }
    return true;
}

DWORD WriteFileWhole(const std::wstring& strFolder, const std::wstring& strTarget, const void* pBytes, size_t nBytes,
                     bool bReplace)
{
    wchar_t szTemp[MAX_PATH] = L"";
    if (!GetTempFileNameW(strFolder.c_str(), L"fsr", 0, szTemp)) return GetLastError();
    HANDLE hFile = CreateFileW(szTemp, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool bDone = hFile != INVALID_HANDLE_VALUE && WriteAllBytes(hFile, pBytes, nBytes) && FlushFileBuffers(hFile);
    DWORD dwError = bDone ? ERROR_SUCCESS : GetLastError();
    if (hFile != INVALID_HANDLE_VALUE) CloseHandle(hFile);
    const DWORD dwFlags = MOVEFILE_WRITE_THROUGH | (bReplace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (bDone && !MoveFileExW(szTemp, strTarget.c_str(), dwFlags)) {
        bDone = false;
        dwError = GetLastError();
        if (dwError == ERROR_FILE_EXISTS) dwError = ERROR_ALREADY_EXISTS;
    }
    if (!bDone) DeleteFileW(szTemp);
    return dwError;
}
