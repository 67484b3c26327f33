#include "framework/CFileFind.h"

bool CFileFind::FindFile(const CString& strPattern)
{
    Close();
    const std::wstring pattern = strPattern.ToWide();
    if (pattern.empty() || pattern.size() >= MAX_PATH) return false;
    m_hFind = FindFirstFileW(pattern.c_str(), &m_data);
    if (m_hFind == INVALID_HANDLE_VALUE) return false;
    const int nSlash = strPattern.ReverseFind('\\');
    m_strRoot = nSlash >= 0 ? strPattern.Left(nSlash + 1) : CString();
    TakeEntry();
    return true;
}

bool CFileFind::FindNextFile()
{
    if (m_hFind == INVALID_HANDLE_VALUE) return false;
    if (!::FindNextFileW(m_hFind, &m_data)) return false;
    TakeEntry();
    return true;
}

void CFileFind::TakeEntry()
{
    m_data.cFileName[MAX_PATH - 1] = L'\0';
    m_strName = CString::FromWide(m_data.cFileName);
}

void CFileFind::Close()
{
    if (m_hFind != INVALID_HANDLE_VALUE) FindClose(m_hFind);
    m_hFind = INVALID_HANDLE_VALUE;
}

bool CFileFind::IsDots() const
{
    const wchar_t* psz = m_data.cFileName;
    return psz[0] == L'.' && (psz[1] == L'\0' || (psz[1] == L'.' && psz[2] == L'\0'));
}
