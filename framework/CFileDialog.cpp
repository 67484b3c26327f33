#include "framework/CFileDialog.h"

CFileDialog::CFileDialog(const char* pszDefExt, const char* pszFileName, DWORD dwFlags, const char* pszFilter,
                         HWND hParent)
    : m_strDefExt(pszDefExt), m_dwFlags(dwFlags), m_hParent(hParent)
{
    if (pszFileName) lstrcpynA(m_szFile, pszFileName, sizeof m_szFile);
    // The dialog wants pairs of NUL-terminated texts ending in an empty one;
    // "Name|pattern||" becomes exactly that.
    std::string filter = pszFilter ? pszFilter : "";
    for (char& ch : filter)
        if (ch == '|') ch = '\0';
    filter.push_back('\0');
    m_strFilter = CString(std::move(filter));
}

INT_PTR CFileDialog::DoModal()
{
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    // Without an explicit owner the dialog belongs to the active window, so
    // that window takes no input while the dialog is open.
    ofn.hwndOwner = m_hParent ? m_hParent : GetActiveWindow();
    ofn.lpstrFilter = m_strFilter.IsEmpty() ? nullptr : m_strFilter.GetString();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = m_szFile;
    ofn.nMaxFile = sizeof m_szFile;
    ofn.lpstrInitialDir = m_strInitialDir.IsEmpty() ? nullptr : m_strInitialDir.GetString();
    ofn.lpstrDefExt = m_strDefExt.IsEmpty() ? nullptr : m_strDefExt.GetString();
    ofn.Flags = m_dwFlags | OFN_EXPLORER;
    return GetOpenFileNameA(&ofn) ? IDOK : IDCANCEL;
}
