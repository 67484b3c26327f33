#include "framework/CClipboard.h"
#include <cstring>

std::optional<CGlobalMemory> CGlobalMemory::Alloc(UINT uFlags, SIZE_T nBytes)
{
    HGLOBAL hMem = GlobalAlloc(uFlags, nBytes);
    if (!hMem) return std::nullopt;
    return CGlobalMemory(hMem);
}

bool CGlobalMemory::CopyIn(const void* pData, SIZE_T nBytes)
{
    void* p = GlobalLock(m_hMem);
    if (!p) return false;
    std::memcpy(p, pData, nBytes);
    GlobalUnlock(m_hMem);
    return true;
}

std::optional<CClipboard> CClipboard::Open(HWND hOwner)
{
    if (!OpenClipboard(hOwner)) return std::nullopt;
    return CClipboard();
}

bool CClipboard::SetData(UINT uFormat, CGlobalMemory& data)
{
    HGLOBAL hMem = data.Release();
    if (SetClipboardData(uFormat, hMem)) return true;
    GlobalFree(hMem);
    return false;
}
