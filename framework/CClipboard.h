#pragma once
#include <windows.h>
#include <optional>
#include <utility>

// A movable global memory block, freed with this object unless handed over.
class CGlobalMemory {
public:
    static std::optional<CGlobalMemory> Alloc(UINT uFlags, SIZE_T nBytes);
    CGlobalMemory(CGlobalMemory&& from) noexcept : m_hMem(std::exchange(from.m_hMem, nullptr)) {}
    CGlobalMemory& operator=(CGlobalMemory&&) = delete;
    ~CGlobalMemory() { if (m_hMem) GlobalFree(m_hMem); }

    // Copies bytes into the block from its start; false when it cannot be locked.
    bool CopyIn(const void* pData, SIZE_T nBytes);
    // Gives the block away; this object no longer frees it.
    HGLOBAL Release() { return std::exchange(m_hMem, nullptr); }

private:
    explicit CGlobalMemory(HGLOBAL hMem) : m_hMem(hMem) {}
    HGLOBAL m_hMem = nullptr;
};

// The clipboard, open for this program; closed on every path out of scope.
class CClipboard {
public:
    static std::optional<CClipboard> Open(HWND hOwner);
    CClipboard(CClipboard&& from) noexcept : m_bOpen(std::exchange(from.m_bOpen, false)) {}
    CClipboard& operator=(CClipboard&&) = delete;
    ~CClipboard() { if (m_bOpen) CloseClipboard(); }

    bool Empty() { return EmptyClipboard() != FALSE; }
    // Hands the block to the clipboard; when the clipboard refuses it, the
    // block stays with 'data' and is freed there.
    bool SetData(UINT uFormat, CGlobalMemory& data);

private:
    CClipboard() : m_bOpen(true) {}
    bool m_bOpen = false;
};
