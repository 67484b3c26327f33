// The sheet's folder services, which only the COM tester uses.
#include "app/SupportSheet.h"
#include "comtester/FileSearch.h"
#include "comtester/FolderPicker.h"

CString CSupportSheet::BrowseForFolder(const CString& strFolder, UINT nTitleID) const
{
    return ::BrowseForFolder(GetSafeHwnd(), strFolder, LoadResourceString(nTitleID));
}

CString CSupportSheet::FindFileInTree(const CString& strFolder, const CString& strFileName) const
{
    return ::FindFileInTree(strFolder, strFileName);
}

CString CSupportSheet::MakeFilePath(const CString& strFolder, const CString& strFileName) const
{
    return ::MakeFilePath(strFolder, strFileName);
}
