#include "ui/comtester/FolderPicker.h"
#include <shlobj.h>

namespace {
// The picker's callback data is the folder to preselect; BFFM_SETSELECTIONW
// with wParam TRUE takes it as a path.
int CALLBACK PreselectFolder(HWND hDialog, UINT uMsg, LPARAM, LPARAM lpData)
{
    if (uMsg == BFFM_INITIALIZED) SendMessageW(hDialog, BFFM_SETSELECTIONW, TRUE, lpData);
    return 0;
}

// Item identifier lists come from the shell's task allocator and go back to it.
void FreeIdList(LPITEMIDLIST pidl)
{
    IMalloc* pMalloc = nullptr;
    if (SUCCEEDED(SHGetMalloc(&pMalloc)) && pMalloc) {
        pMalloc->Free(pidl);
        pMalloc->Release();
    }
}
}

CString BrowseForFolder(HWND hOwner, const CString& strFolder, const CString& strTitle)
{
    // The wide picker: SHGetPathFromIDListA converts into MAX_PATH bytes,
    // which a path in UTF-8 outgrows long before it reaches MAX_PATH
    // characters, and then hands back a cut path or none.
    const std::wstring folder = strFolder.ToWide();
    const std::wstring title = strTitle.ToWide();
    wchar_t szDisplayName[MAX_PATH] = L"";
    BROWSEINFOW info = {};
    info.hwndOwner = hOwner;
    info.pszDisplayName = szDisplayName;
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = &PreselectFolder;
    info.lParam = reinterpret_cast<LPARAM>(folder.c_str());
    LPITEMIDLIST pidl = SHBrowseForFolderW(&info);
    if (!pidl) return CString();
    wchar_t szPath[MAX_PATH] = L"";
    const BOOL bPath = SHGetPathFromIDListW(pidl, szPath);
    FreeIdList(pidl);
    return bPath ? CString::FromWide(szPath) : CString();
}
