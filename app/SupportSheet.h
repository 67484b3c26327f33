#pragma once
#include "framework/CPropertySheet.h"
#include "comtester/ComTester.h"
#include "projecttester/ProjectTester.h"
#include "general/General.h"

// The program's one window: a property sheet with the General, COM tester and
// Project tester pages, and the services those pages call through it.
class CSupportSheet : public CPropertySheet {
public:
    CSupportSheet(const CString& strCaption, CWnd* pParentWnd, UINT iSelectPage);
    ~CSupportSheet() override = default;

    // Registry and version resources.
    CString ReadRegString(HKEY hRoot, const CString& strSubKey, const CString& strValueName) const;
    bool GetFileVersion(const CString& strPath, DWORD& dwVersionMS, DWORD& dwVersionLS) const;

    // System description and export.
    void GetOSInfo(CString& strName, CString& strVersion, CString& strServicePack) const;
    CString GetIEVersion() const;
    CString GetSystemSummary() const;
    void CopyToClipboard(const CString& strText) const;

    // Self-registration of one server file; true only when an in-process
    // server's entry point returned S_OK. pResult receives what it did.
    bool RegisterServerFile(const CString& strPath, bool bRegister, RegistrationResult* pResult = nullptr) const;
    // The folder the user picks, starting at strFolder; empty on cancel.
    CString BrowseForFolder(const CString& strFolder, UINT nTitleID) const;
    // The path of a file of that name in the folder's tree, or empty.
    CString FindFileInTree(const CString& strFolder, const CString& strFileName) const;
    CString MakeFilePath(const CString& strFolder, const CString& strFileName) const;

private:
    void ExecuteAndWait(const CString& strPath, const CString& strParameters) const;

    HICON m_hIcon;   // a shared resource icon: never destroyed
    CComTester m_pageComTester;
    CProjectTester m_pageProjectTester;
    CGeneral m_pageGeneral;
};
