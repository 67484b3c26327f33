#pragma once
#include "framework/CWnd.h"
#include <prsht.h>
#include <vector>

class CPropertySheet;

// One page of a property sheet, built on a dialog template. The page's dialog
// procedure hands messages to the virtual hooks below; control notifications
// go first to the control object that DDX_Control attached (reflection).
class CPropertyPage : public CWnd {
public:
    explicit CPropertyPage(UINT nIDTemplate);

    // Filled by the constructor; a derived page may change the flags.
    PROPSHEETPAGEA m_psp;

    // The sheet this page was added to.
    CPropertySheet* GetParentSheet() const { return m_pParentSheet; }

protected:
    // Runs DoDataExchange; TRUE lets the dialog manager set the focus.
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange() {}
    // Attaches the control of that id to 'control' and routes its own
    // notifications back to it.
    void DDX_Control(int nID, CWnd& control);

    // A button or other command; TRUE when handled.
    virtual BOOL OnCommand(int /*nID*/, int /*nCode*/) { return FALSE; }
    virtual BOOL OnNotify(const NMHDR& /*nm*/, LRESULT& /*result*/) { return FALSE; }
    virtual BOOL OnSetActive() { return TRUE; }
    virtual BOOL OnKillActive() { return TRUE; }

private:
    friend class CPropertySheet;
    static INT_PTR CALLBACK DialogProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleNotify(const NMHDR& nm);

    CPropertySheet* m_pParentSheet = nullptr;
    std::vector<CWnd*> m_controls;
};
