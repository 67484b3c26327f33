#include "framework/CString.h"
#include "framework/Resources.h"
#include <mbstring.h>
#include <cstdarg>
#include <cstdio>
#include <vector>

CString CString::Left(int nCount) const
{
    if (nCount <= 0) return CString();
    return CString(m_str.substr(0, static_cast<size_t>(nCount)));
}

CString CString::Right(int nCount) const
{
    if (nCount <= 0) return CString();
    if (nCount >= GetLength()) return *this;
    return CString(m_str.substr(m_str.size() - static_cast<size_t>(nCount)));
}

CString CString::Mid(int nFirst) const
{
    if (nFirst <= 0) return *this;
    if (nFirst >= GetLength()) return CString();
    return CString(m_str.substr(static_cast<size_t>(nFirst)));
}

int CString::ReverseFind(char ch) const
{
    const size_t pos = m_str.rfind(ch);
    return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

void CString::MakeLower()
{
    // CharLowerBuffA lower-cases by the active code page, leaving lead and
    // trail bytes of double-byte characters alone.
    if (!m_str.empty())
        CharLowerBuffA(&m_str[0], static_cast<DWORD>(m_str.size()));
}

int CString::CompareNoCase(const char* psz) const
{
    return _mbsicmp(reinterpret_cast<const unsigned char*>(m_str.c_str()),
                    reinterpret_cast<const unsigned char*>(psz ? psz : ""));
}

void CString::Format(const char* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, pszFormat, copy);
    va_end(copy);
    if (needed < 0) {
        m_str.clear();
    } else {
        std::vector<char> buffer(static_cast<size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), pszFormat, args);
        m_str.assign(buffer.data(), static_cast<size_t>(needed));
    }
    va_end(args);
}

bool CString::LoadString(UINT nID)
{
    // LoadStringW with a zero length hands back a pointer into the resource
    // itself, so the length is known before converting; no buffer to outgrow.
    const wchar_t* pText = nullptr;
    const int nChars = LoadStringW(ResourceInstance(), nID, reinterpret_cast<LPWSTR>(&pText), 0);
    m_str.clear();
    if (nChars <= 0 || !pText) return false;
    const int nBytes = WideCharToMultiByte(CP_ACP, 0, pText, nChars, nullptr, 0, nullptr, nullptr);
    if (nBytes <= 0) return false;
    m_str.resize(static_cast<size_t>(nBytes));
    WideCharToMultiByte(CP_ACP, 0, pText, nChars, &m_str[0], nBytes, nullptr, nullptr);
    return true;
}

CString LoadResourceString(UINT nID)
{
    CString s;
    s.LoadString(nID);
    return s;
}
