#pragma once
#include "framework/CString.h"
#include <commdlg.h>
#include <vector>

// The system's file-open dialog. The filter is given as "Name|pattern||",
// the way the application's texts write it.
class CFileDialog {
public:
    CFileDialog(const char* pszDefExt, const char* pszFileName, DWORD dwFlags, const char* pszFilter,
                HWND hParent = nullptr);
    CFileDialog(const CFileDialog&) = delete;
    CFileDialog& operator=(const CFileDialog&) = delete;

    void SetInitialDir(const CString& strFolder) { m_strInitialDir = strFolder; }
    // IDOK when the user chose a file, IDCANCEL otherwise (also on failure).
    INT_PTR DoModal();
    CString GetPathName() const { return CString(m_file.data()); }

private:
    CString m_strDefExt;
    CString m_strFilter;   // '|' already turned into NULs
    CString m_strInitialDir;
    DWORD m_dwFlags;
    HWND m_hParent;
    std::vector<char> m_file;   // MAX_PATH characters of the active code page
};
