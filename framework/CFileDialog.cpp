#include "framework/CFileDialog.h"

namespace {
// The most bytes one character takes in the active code page: four in UTF-8,
// so a path of MAX_PATH characters no longer fits MAX_PATH bytes.
UINT MaxBytesPerChar()
{
    CPINFO info = {};
    return GetCPInfo(CP_ACP, &info) && info.MaxCharSize > 0 ? info.MaxCharSize : 4;
}
}

CFileDialog::CFileDialog(const char* pszDefExt, const char* pszFileName, DWORD dwFlags, const char* pszFilter,
                         HWND hParent)
    : m_strDefExt(pszDefExt), m_dwFlags(dwFlags), m_hParent(hParent),
      m_file(static_cast<size_t>(MAX_PATH) * MaxBytesPerChar(), '\0')
{
    if (pszFileName) lstrcpynA(m_file.data(), pszFileName, static_cast<int>(m_file.size()));
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
    ofn.lpstrFile = m_file.data();
    ofn.nMaxFile = static_cast<DWORD>(m_file.size());
    ofn.lpstrInitialDir = m_strInitialDir.IsEmpty() ? nullptr : m_strInitialDir.GetString();
    ofn.lpstrDefExt = m_strDefExt.IsEmpty() ? nullptr : m_strDefExt.GetString();
    ofn.Flags = m_dwFlags | OFN_EXPLORER;
    return GetOpenFileNameA(&ofn) ? IDOK : IDCANCEL;
}
