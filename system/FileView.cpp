#include "system/FileView.h"

CFileView& CFileView::operator=(CFileView&& other) noexcept
{
    if (this != &other) {
        Close();
        m_hMapping = other.m_hMapping;
        m_pView = other.m_pView;
        m_nBytes = other.m_nBytes;
        other.m_hMapping = nullptr;
        other.m_pView = nullptr;
        other.m_nBytes = 0;
    }
    return *this;
}

DWORD CFileView::Open(HANDLE hFile, unsigned long long nLimit)
{
    Close();
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(hFile, &size)) return GetLastError();
    if (size.QuadPart <= 0) return ERROR_HANDLE_EOF;
    if (static_cast<unsigned long long>(size.QuadPart) > nLimit || static_cast<unsigned long long>(size.QuadPart) > SIZE_MAX)
        return ERROR_FILE_TOO_LARGE;
    m_hMapping = CreateFileMappingW(hFile, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!m_hMapping) return GetLastError();
    m_pView = static_cast<const BYTE*>(MapViewOfFile(m_hMapping, FILE_MAP_READ, 0, 0, 0));
    if (!m_pView) {
        const DWORD dwError = GetLastError();
        Close();
        return dwError;
    }
    m_nBytes = static_cast<size_t>(size.QuadPart);
    return ERROR_SUCCESS;
}

void CFileView::Close()
{
    if (m_pView) UnmapViewOfFile(m_pView);
    if (m_hMapping) CloseHandle(m_hMapping);
    m_pView = nullptr;
    m_hMapping = nullptr;
    m_nBytes = 0;
}
