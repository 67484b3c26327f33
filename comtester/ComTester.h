#pragma once
#include "framework/CPropertyPage.h"
#include "framework/CProgressCtrl.h"
#include "comtester/ComponentList.h"
#include "comtester/ComponentDetails.h"

class CSupportSheet;

// The folder box's first text: the install location, a backslash when
// needed, and "System"; "System" alone when no location is recorded.
CString SystemFolderFromInstallLocation(const CString& strInstallLocation);

// The COM tester page: the catalogue of the authoring tool's COM servers, the
// tool's system folder, and the buttons that verify, register and export.
class CComTester : public CPropertyPage {
public:
    CComTester();
    ~CComTester() override = default;

    // What the list asks of its page.
    CString GetSystemFolder() const;
    CString GetCommonFilesFolder() const;
    void SetProgressRange(short nLower, short nUpper) const;
    void SetProgressPos(int nPos) const;

    // The sheet's services, forwarded so that the list needs only its page.
    bool RegisterServerFile(const CString& strPath, bool bRegister, RegistrationResult* pResult = nullptr) const;
    bool GetFileVersion(const CString& strPath, DWORD& dwVersionMS, DWORD& dwVersionLS) const;
    CString ReadRegString(HKEY hRoot, const CString& strSubKey, const CString& strValueName) const;
    CString FindFileInTree(const CString& strFolder, const CString& strFileName) const;
    CString MakeFilePath(const CString& strFolder, const CString& strFileName) const;

protected:
    void DoDataExchange() override;
    BOOL OnInitDialog() override;
    BOOL OnCommand(int nID, int nCode) override;
    BOOL OnNotify(const NMHDR& nm, LRESULT& result) override;

private:
    void OnBrowse();
    void OnVerifyCom();
    void OnRegisterSelected();
    void OnUnregisterSelected();
    void OnVerifyFiles();
    void OnCopyResults();

    CSupportSheet* m_pSheet = nullptr;
    CProgressCtrl m_progress;
    CComponentList m_list;
    CComponentDetails m_details;
};
