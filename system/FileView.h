#pragma once
#include <windows.h>
#include <cstddef>

// A whole file mapped for reading: its bytes without a copy in the
// process's own memory, only the pages that are read brought in. The file
// must not change while it is mapped: its owner holds it open without
// sharing it for writing.
class CFileView {
public:
    CFileView() = default;
    ~CFileView() { Close(); }
    CFileView(CFileView&& other) noexcept { *this = static_cast<CFileView&&>(other); }
    CFileView& operator=(CFileView&& other) noexcept;
    CFileView(const CFileView&) = delete;
    CFileView& operator=(const CFileView&) = delete;

    // Maps the file open as hFile (with read access). ERROR_SUCCESS, or why
    // not: an empty file or one beyond nLimit bytes cannot be mapped.
    DWORD Open(HANDLE hFile, unsigned long long nLimit);
    void Close();
    const BYTE* Data() const { return m_pView; }
    size_t Size() const { return m_nBytes; }

private:
    HANDLE m_hMapping = nullptr;
    const BYTE* m_pView = nullptr;
    size_t m_nBytes = 0;
};
