#pragma once
#include <windows.h>
#include <string>

// An ANSI string with the few operations the application uses. Converts to
// LPCSTR so it can be handed to the A functions of the platform directly.
// Its bytes are in the active code page, which the manifest makes UTF-8
// where the system honours it: one character may take one to four bytes.
class CString {
public:
    CString() = default;
    CString(const char* psz) : m_str(psz ? psz : "") {}
    CString(const char* pch, int nLength) : m_str(pch, static_cast<size_t>(nLength)) {}
    CString(std::string str) : m_str(std::move(str)) {}

    operator LPCSTR() const { return m_str.c_str(); }
    const char* GetString() const { return m_str.c_str(); }
    const std::string& Str() const { return m_str; }
    int GetLength() const { return static_cast<int>(m_str.size()); }
    bool IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }
    char operator[](int i) const { return m_str[static_cast<size_t>(i)]; }

    CString& operator+=(const CString& s) { m_str += s.m_str; return *this; }
    CString& operator+=(const char* psz) { if (psz) m_str += psz; return *this; }
    CString& operator+=(char ch) { m_str += ch; return *this; }
    friend CString operator+(CString a, const CString& b) { a += b; return a; }
    friend CString operator+(CString a, const char* b) { a += b; return a; }
    friend CString operator+(const char* a, const CString& b) { return CString(a) + b; }
    friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
    friend bool operator==(const CString& a, const char* b) { return a.m_str == (b ? b : ""); }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
    friend bool operator!=(const CString& a, const char* b) { return !(a == b); }

    CString Left(int nCount) const;
    CString Right(int nCount) const;
    CString Mid(int nFirst) const;
    int ReverseFind(char ch) const;
    void MakeLower();
    // Case-insensitive comparison of the texts, character by character in
    // code-point order; for ASCII the order of _stricmp.
    int CompareNoCase(const char* psz) const;
    bool EndsWith(char ch) const { return !m_str.empty() && m_str.back() == ch; }

    void Format(const char* pszFormat, ...) __attribute__((format(gnu_printf, 2, 3)));
    // Loads a string-table entry of the program; false (and empty) when absent.
    bool LoadString(UINT nID);

    // Conversions with the active code page, sized by asking the converter.
    // nLength -1: up to the terminating NUL.
    static CString FromWide(const wchar_t* pwsz, int nLength = -1);
    std::wstring ToWide() const;

private:
    std::string m_str;
};

// Loads a string-table entry in one expression.
CString LoadResourceString(UINT nID);
