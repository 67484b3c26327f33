#pragma once
#include "framework/CString.h"
#include "engine/components/VerificationSite.h"
#include <commctrl.h>
#include <functional>

class CComponentList;
struct ComponentDiagnosis;

// More commands for the list's right-click menu, from another module.
class CListMenuExtension {
public:
    virtual ~CListMenuExtension() = default;
    virtual void AppendMenuItems(HMENU hMenu) = 0;
    // True when the command was one of its items.
    virtual bool OnMenuCommand(UINT nCommand) = 0;
};

// The COM tester list's way to its rows' diagnosis: double-click, Enter or
// "Details..." on the right-click menu open the details of the focused row,
// and the Registered and On System cells show the row's verdict as an
// infotip. An infotip tells only what the row already knows; opening the
// details looks for the row's file afresh, and the row then shows what the
// details show. The page hands it the list's notifications that the list
// itself does not handle.
class CComponentDetails {
public:
    // Once, after the list has been filled; folders gives what the page
    // searches at the moment it is asked.
    void Attach(CComponentList* pList, HWND hOwner, std::function<VerificationFolders()> folders,
                CListMenuExtension* pMenuExtension = nullptr);
    bool OnListNotify(const NMHDR& nm, LRESULT& result);
    // Opens the details of a row, modal and owned by the sheet.
    void ShowDetails(int nItem) const;

private:
    // The row's diagnosis with the path the list found last.
    ComponentDiagnosis DiagnoseRow(int nItem) const;
    int FocusedRow() const;
    void OnContextMenu() const;
    bool OnGetInfoTip(int nItem, int nSubItem, char* pszText, int cchText) const;
    static LRESULT CALLBACK ListProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR uId, DWORD_PTR dwData);

    CComponentList* m_pList = nullptr;
    HWND m_hOwner = nullptr;
    std::function<VerificationFolders()> m_folders;
    CListMenuExtension* m_pMenuExtension = nullptr;
};
