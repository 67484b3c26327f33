#pragma once
#include <windows.h>
#include <string>

// Writes every byte, in pieces the system takes; false at the first failure.
bool WriteAllBytes(HANDLE hFile, const void* pBytes, size_t nBytes);

// Writes the bytes to a temporary file in strFolder (the target's folder),
// flushes it, and only then moves it to strTarget, so the target is a whole
// file or untouched. Without bReplace an existing target is left alone and
// ERROR_ALREADY_EXISTS given. ERROR_SUCCESS, or the first failure's error.
DWORD WriteFileWhole(const std::wstring& strFolder, const std::wstring& strTarget, const void* pBytes, size_t nBytes,
                     bool bReplace);
