#include "framework/CFileFind.h"

bool CFileFind::FindFile(const CString& strPattern)
{
    Close();
    m_hFind = FindFirstFileA(strPattern, &m_data);
    if (m_hFind == INVALID_HANDLE_VALUE) return false;
    const int nSlash = strPattern.ReverseFind('\\');
    m_strRoot = nSlash >= 0 ? strPattern.Left(nSlash + 1) : CString();
    return true;
}

bool CFileFind::FindNextFile()
{
    if (m_hFind == INVALID_HANDLE_VALUE) return false;
    return ::FindNextFileA(m_hFind, &m_data) != FALSE;
}

void CFileFind::Close()
{
    if (m_hFind != INVALID_HANDLE_VALUE) FindClose(m_hFind);
    m_hFind = INVALID_HANDLE_VALUE;
}

bool CFileFind::IsDots() const
{
    const char* psz = m_data.cFileName;
    return psz[0] == '.' && (psz[1] == '\0' || (psz[1] == '.' && psz[2] == '\0'));
}
