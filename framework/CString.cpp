#include "framework/CString.h"
#include "framework/Resources.h"
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {
// Invariant lower case, one UTF-16 unit for one, so no length changes;
// LCMapStringW may work in place for a case mapping.
void LowerWide(std::wstring& text)
{
    if (!text.empty())
        LCMapStringW(LOCALE_INVARIANT, LCMAP_LOWERCASE, &text[0], static_cast<int>(text.size()), &text[0],
                     static_cast<int>(text.size()));
}

// UTF-16 units ranked in code-point order: a surrogate stands for a
// character above U+FFFF, so it ranks above every other unit.
unsigned CodePointRank(wchar_t ch)
{
    const unsigned u = ch;
    if (u >= 0xE000) return u - 0x800;
    if (u >= 0xD800) return u + 0x2000;
    return u;
}

int AsciiLower(unsigned char ch)
{
    return ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch;
}
}

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
    // Through UTF-16: in UTF-8 a lower-case letter may take more or fewer
    // bytes than its capital, so the bytes cannot be changed in place.
    std::wstring wide = ToWide();
    LowerWide(wide);
    *this = FromWide(wide.data(), static_cast<int>(wide.size()));
}

int CString::CompareNoCase(const char* psz) const
{
    // Bytes below 0x80 before any other byte are whole ASCII characters in
    // every ANSI code page (lead bytes are above), so the common all-ASCII
    // names are compared here without converting.
    const char* pA = m_str.c_str();
    const char* pB = psz ? psz : "";
    for (;; ++pA, ++pB) {
        const auto a = static_cast<unsigned char>(*pA), b = static_cast<unsigned char>(*pB);
        if (a >= 0x80 || b >= 0x80) break;
        const int nLowerA = AsciiLower(a), nLowerB = AsciiLower(b);
        if (nLowerA != nLowerB) return nLowerA < nLowerB ? -1 : 1;
        if (a == 0) return 0;
    }
    std::wstring wideA = CString(pA).ToWide(), wideB = CString(pB).ToWide();
    LowerWide(wideA);
    LowerWide(wideB);
    const auto less = [](wchar_t x, wchar_t y) { return CodePointRank(x) < CodePointRank(y); };
    if (std::lexicographical_compare(wideA.begin(), wideA.end(), wideB.begin(), wideB.end(), less)) return -1;
    if (std::lexicographical_compare(wideB.begin(), wideB.end(), wideA.begin(), wideA.end(), less)) return 1;
    return 0;
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
    *this = FromWide(pText, nChars);
    return !IsEmpty();
}

CString CString::FromWide(const wchar_t* pwsz, int nLength)
{
    if (!pwsz || nLength == 0) return CString();
    const int nBytes = WideCharToMultiByte(CP_ACP, 0, pwsz, nLength, nullptr, 0, nullptr, nullptr);
    if (nBytes <= 0) return CString();
    std::string text(static_cast<size_t>(nBytes), '\0');
    const int nWritten = WideCharToMultiByte(CP_ACP, 0, pwsz, nLength, &text[0], nBytes, nullptr, nullptr);
    text.resize(nWritten > 0 ? static_cast<size_t>(nWritten) : 0);
    // A length of -1 counts the terminating NUL too.
    if (nLength < 0 && !text.empty() && text.back() == '\0') text.pop_back();
    return CString(std::move(text));
}

std::wstring CString::ToWide() const
{
    if (m_str.empty()) return std::wstring();
    const int nBytes = static_cast<int>(m_str.size());
    const int nChars = MultiByteToWideChar(CP_ACP, 0, m_str.data(), nBytes, nullptr, 0);
    if (nChars <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(nChars), L'\0');
    const int nWritten = MultiByteToWideChar(CP_ACP, 0, m_str.data(), nBytes, &wide[0], nChars);
    wide.resize(nWritten > 0 ? static_cast<size_t>(nWritten) : 0);
    return wide;
}

CString LoadResourceString(UINT nID)
{
    CString s;
    s.LoadString(nID);
    return s;
}
