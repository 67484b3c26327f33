#pragma once
#include "framework/CPropertyPage.h"
#include "framework/CProgressCtrl.h"
#include "framework/CPaintPump.h"
#include "engine/components/VerificationSite.h"
#include "engine/components/WorkProgress.h"
#include "ui/comtester/ComponentList.h"
#include "ui/comtester/ComponentDetails.h"
#include "ui/comtester/UndoPanel.h"
#include "ui/comtester/ClassCreationMenu.h"
#include "ui/StopPrompt.h"

class CSupportSheet;

// The COM tester page: the catalogue of the authoring tool's COM servers, the
// tool's system folder, and the buttons that verify, register and export.
// Its progress bar shows how the page's long commands go on.
class CComTester : public CPropertyPage, private CWorkProgress {
public:
    CComTester();
    ~CComTester() override = default;

    // What the page's searches look in: the folder box, and the machine's
    // Common Files folder.
    VerificationFolders Folders() const;

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
    // Either press, its servers' changes kept in an undo file.
    void RegisterSelected(bool bRegister);
    void OnVerifyFiles();
    void OnCopyResults();

    void SetProgressRange(int nUpper) override;
    void SetProgressPos(int nPos) override;
    // A long walk keeps the sheet painting, and the bar runs round its range
    // until the rows are counted.
    void OnFolderEntered() override;
    // A wait for a server keeps the sheet painting and the stop prompt
    // saying which server it is.
    void OnWaiting(const CString& strFile, DWORD dwElapsedMs) override;
    bool IsStopRequested() override;
    void ResetStop() override;

    CSupportSheet* m_pSheet = nullptr;
    CProgressCtrl m_progress;
    CPaintPump m_pump;
    int m_nProgressUpper = 0;
    int m_nWalkPos = 0;
    CComponentList m_list;
    CComponentDetails m_details;
    CUndoPanel m_undo;
    CClassCreationMenu m_creation;
};
