#pragma once
#include "framework/CPropertyPage.h"
#include "framework/CProgressCtrl.h"
#include "framework/CPaintPump.h"
#include "comtester/ComponentList.h"
#include "comtester/ComponentDetails.h"
#include "comtester/VerificationSite.h"

class CSupportSheet;

// The folder box's first text: the install location, a backslash when
// needed, and "System"; "System" alone when no location is recorded.
CString SystemFolderFromInstallLocation(const CString& strInstallLocation);
// The same, with the install location the tool recorded in the registry.
CString ToolSystemFolder(const CVerificationSite& site);

// The COM tester page: the catalogue of the authoring tool's COM servers, the
// tool's system folder, and the buttons that verify, register and export.
class CComTester : public CPropertyPage, public CVerificationSite {
public:
    CComTester();
    ~CComTester() override = default;

    // What the list asks of its page; GetCommonFilesFolder reads through
    // the page's ReadRegString.
    CString GetSystemFolder() const override;
    void SetProgressRange(short nLower, short nUpper) const override;
    void SetProgressPos(int nPos) const override;
    // A long walk keeps the sheet painting, and the bar runs round its range
    // until the rows are counted.
    void OnFolderEntered() const override;

    // The sheet's services, forwarded so that the list needs only its page.
    bool RegisterServerFile(const CString& strPath, bool bRegister, RegistrationResult* pResult = nullptr) const;
    bool GetFileVersion(const CString& strPath, DWORD& dwVersionMS, DWORD& dwVersionLS) const override;
    CString ReadRegString(HKEY hRoot, const CString& strSubKey, const CString& strValueName) const override;
    CString FindFileInTree(const CString& strFolder, const CString& strFileName) const override;
    CString MakeFilePath(const CString& strFolder, const CString& strFileName) const override;

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
    mutable CPaintPump m_pump;
    mutable short m_nProgressUpper = 0;
    mutable int m_nWalkPos = 0;
    CComponentList m_list;
    CComponentDetails m_details;
};
