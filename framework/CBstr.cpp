#include "framework/CBstr.h"
#include <vector>

CBstr::CBstr(const char* pszText)
{
    const char* psz = pszText ? pszText : "";
    const int nChars = MultiByteToWideChar(CP_ACP, 0, psz, -1, nullptr, 0);
    if (nChars <= 0) {
        m_bstr = SysAllocString(L"");
        return;
    }
    std::vector<wchar_t> wide(static_cast<size_t>(nChars));
    MultiByteToWideChar(CP_ACP, 0, psz, -1, wide.data(), nChars);
    m_bstr = SysAllocString(wide.data());
}

CString CBstr::ToAnsi(const wchar_t* pwsz, UINT nLength)
{
    if (!pwsz || nLength == 0) return CString();
    // Twice the UTF-16 length plus two bytes holds any double-byte code page.
    std::vector<char> buffer(static_cast<size_t>(nLength) * 2 + 2);
    const int nBytes = WideCharToMultiByte(CP_ACP, 0, pwsz, static_cast<int>(nLength), buffer.data(),
                                           static_cast<int>(buffer.size()) - 1, nullptr, nullptr);
    return CString(buffer.data(), nBytes > 0 ? nBytes : 0);
}
