#pragma once
#include "framework/CString.h"

// What a verification asks of whoever runs it: the tool's System folder, the
// machine's services it reads through, and where its progress goes. The
// defaults read the machine directly and show no progress; the COM tester page
// answers through its sheet and moves its progress bar.
class CVerificationSite {
public:
    virtual ~CVerificationSite() = default;

    virtual CString GetSystemFolder() const = 0;
    // "CommonFilesDir" of the machine's current-version key; empty when absent.
    virtual CString GetCommonFilesFolder() const;
    virtual void SetProgressRange(short nLower, short nUpper) const;
    virtual void SetProgressPos(int nPos) const;
    // Called as a folder walk enters each folder, so that a page can keep
    // painting and show that the walk goes on.
    virtual void OnFolderEntered() const;

    virtual bool GetFileVersion(const CString& strPath, DWORD& dwVersionMS, DWORD& dwVersionLS) const;
    virtual CString ReadRegString(HKEY hRoot, const CString& strSubKey, const CString& strValueName) const;
    virtual CString FindFileInTree(const CString& strFolder, const CString& strFileName) const;
    virtual CString MakeFilePath(const CString& strFolder, const CString& strFileName) const;
};
