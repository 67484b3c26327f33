#include "comtester/FolderPicker.h"
#include <shlobj.h>

namespace {
// The picker's callback data is the folder to preselect; BFFM_SETSELECTIONA
// with wParam TRUE takes it as a path.
int CALLBACK PreselectFolder(HWND hDialog, UINT uMsg, LPARAM, LPARAM lpData)
{
    if (uMsg == BFFM_INITIALIZED) SendMessageA(hDialog, BFFM_SETSELECTIONA, TRUE, lpData);
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
    char szDisplayName[MAX_PATH] = "";
    BROWSEINFOA info = {};
    info.hwndOwner = hOwner;
    info.pszDisplayName = szDisplayName;
    info.lpszTitle = strTitle;
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = &PreselectFolder;
    info.lParam = reinterpret_cast<LPARAM>(strFolder.GetString());
    LPITEMIDLIST pidl = SHBrowseForFolderA(&info);
    if (!pidl) return CString();
    char szPath[MAX_PATH] = "";
    const BOOL bPath = SHGetPathFromIDListA(pidl, szPath);
    FreeIdList(pidl);
    return bPath ? CString(szPath) : CString();
}
