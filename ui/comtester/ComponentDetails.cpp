#include "ui/comtester/ComponentDetails.h"
#include "ui/comtester/ComponentList.h"
#include "ui/comtester/DetailsDialog.h"
#include "engine/diagnosis/Diagnosis.h"
#include "engine/components/ClassActivation.h"
#include "framework/CWaitCursor.h"
#include "res/resource.h"

namespace {
const int COL_REGISTERED = 2;
const int COL_ON_SYSTEM = 3;
const UINT_PTR LIST_SUBCLASS_ID = 1;
const int INFOTIP_CHARS = 1024;
}

void CComponentDetails::Attach(CComponentList* pList, HWND hOwner, std::function<VerificationFolders()> folders,
                               CListMenuExtension* pMenuExtension)
{
    m_pMenuExtension = pMenuExtension;
    m_pList = pList;
    m_hOwner = hOwner;
    m_folders = std::move(folders);
    m_pList->SetExtendedStyle(LVS_EX_INFOTIP, LVS_EX_INFOTIP);
    SetWindowSubclass(m_pList->GetSafeHwnd(), &CComponentDetails::ListProc, LIST_SUBCLASS_ID, 0);
}

// In a dialog, Enter presses the default button (the sheet's OK) before the
// focused control sees it; the list asks for it, so that it sends NM_RETURN.
LRESULT CALLBACK CComponentDetails::ListProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    if (msg == WM_GETDLGCODE && lParam) {
        const MSG* pMsg = reinterpret_cast<const MSG*>(lParam);
        if (pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_RETURN)
            return DefSubclassProc(hWnd, msg, wParam, lParam) | DLGC_WANTALLKEYS;
    }
    if (msg == WM_NCDESTROY) RemoveWindowSubclass(hWnd, &CComponentDetails::ListProc, LIST_SUBCLASS_ID);
    return DefSubclassProc(hWnd, msg, wParam, lParam);
}

bool CComponentDetails::OnListNotify(const NMHDR& nm, LRESULT& result)
{
    if (!m_pList || nm.hwndFrom != m_pList->GetSafeHwnd()) return false;
    switch (nm.code) {
    case NM_DBLCLK:
        if (reinterpret_cast<const NMITEMACTIVATE&>(nm).iItem >= 0) ShowDetails(FocusedRow());
        result = 0;
        return true;
    case NM_RETURN:
        ShowDetails(FocusedRow());
        result = 0;
        return true;
    case NM_RCLICK:
        OnContextMenu();
        result = 0;
        return true;
    case LVN_GETINFOTIPA: {
        auto& tip = const_cast<NMLVGETINFOTIPA&>(reinterpret_cast<const NMLVGETINFOTIPA&>(nm));
        result = 0;
        return OnGetInfoTip(tip.iItem, tip.iSubItem, tip.pszText, tip.cchTextMax);
    }
    case LVN_GETINFOTIPW: {
        // Sent by a list that speaks Unicode to its parent whatever the parent is.
        auto& tip = const_cast<NMLVGETINFOTIPW&>(reinterpret_cast<const NMLVGETINFOTIPW&>(nm));
        char szText[INFOTIP_CHARS] = "";
        result = 0;
        if (!tip.pszText || tip.cchTextMax <= 0 || !OnGetInfoTip(tip.iItem, tip.iSubItem, szText, INFOTIP_CHARS)) return false;
        if (!MultiByteToWideChar(CP_ACP, 0, szText, -1, tip.pszText, tip.cchTextMax)) tip.pszText[0] = L'\0';
        tip.pszText[tip.cchTextMax - 1] = L'\0';
        return true;
    }
    default:
        return false;
    }
}

int CComponentDetails::FocusedRow() const
{
    return static_cast<int>(m_pList->SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
}

ComponentDiagnosis CComponentDetails::DiagnoseRow(int nItem) const
{
    const ComponentItem* pItem = m_pList->GetRecord(nItem);
    if (!pItem) return ComponentDiagnosis();
    const CImportResolver resolver;
    ComponentDiagnosis diagnosis = DiagnoseComponent(pItem->strFileName, pItem->strProgID, pItem->strLocation, pItem->lastAction, resolver);
    diagnosis.activation = pItem->lastActivation;
    return diagnosis;
}

void CComponentDetails::ShowDetails(int nItem) const
{
    if (nItem < 0 || !m_pList->GetRecord(nItem)) return;
    CString strText, strCaption;
    {
        CWaitCursor wait;
        m_pList->VerifyRow(nItem, m_folders());
        const ComponentDiagnosis diagnosis = DiagnoseRow(nItem);
        strText = FormatComponentDiagnosis(diagnosis);
        strCaption.Format(LoadResourceString(IDS_DETAILS_CAPTION), diagnosis.strFileName.GetString());
    }
    CDetailsDialog(strCaption, strText).DoModal(m_hOwner);
}

void CComponentDetails::OnContextMenu() const
{
    const int nItem = FocusedRow();
    HMENU hMenu = CreatePopupMenu();
    if (!hMenu) return;
    if (nItem >= 0) AppendMenuA(hMenu, MF_STRING, ID_COMPONENT_DETAILS, LoadResourceString(IDS_MENU_DETAILS));
    if (m_pMenuExtension) m_pMenuExtension->AppendMenuItems(hMenu);
    POINT pt = {};
    GetCursorPos(&pt);
    const UINT nCommand = static_cast<UINT>(TrackPopupMenu(hMenu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, pt.x, pt.y,
                                                           0, m_pList->GetSafeHwnd(), nullptr));
    DestroyMenu(hMenu);
    if (nCommand == ID_COMPONENT_DETAILS) ShowDetails(nItem);
    else if (nCommand && m_pMenuExtension) m_pMenuExtension->OnMenuCommand(nCommand);
}

bool CComponentDetails::OnGetInfoTip(int nItem, int nSubItem, char* pszText, int cchText) const
{
    // The notification names the row but, in report view, not always the
    // cell: the cell is the one under the mouse.
    if (nSubItem == 0) {
        LVHITTESTINFO hit = {};
        GetCursorPos(&hit.pt);
        ScreenToClient(m_pList->GetSafeHwnd(), &hit.pt);
        if (m_pList->SendMessage(LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)) != nItem) return false;
        nSubItem = hit.iSubItem;
    }
    const ComponentItem* pItem = m_pList->GetRecord(nItem);
    if ((nSubItem != COL_REGISTERED && nSubItem != COL_ON_SYSTEM) || !pszText || cchText <= 0 || !pItem) return false;
    // A row never looked for has no path yet: the tip says so rather than search.
    const bool bLookedFor = pItem->bLookedFor;
    CString strTip = pItem->bNotReached ? LoadResourceString(IDS_INFOTIP_NOT_REACHED)
                     : bLookedFor      ? ComponentVerdict(DiagnoseRow(nItem))
                                       : LoadResourceString(IDS_INFOTIP_NOT_LOOKED_FOR);
    const CString strCreating = ActivationInfoTipLine(pItem->lastActivation);
    if (bLookedFor && !pItem->bNotReached && !strCreating.IsEmpty()) strTip += "\r\n" + strCreating;
    lstrcpynA(pszText, strTip, cchText);
    return true;
}
