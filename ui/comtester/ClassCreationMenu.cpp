#include "ui/comtester/ClassCreationMenu.h"
#include "ui/comtester/ComponentList.h"
#include "ui/StopPrompt.h"
#include "engine/components/ClassActivation.h"
#include "framework/CInputDiscard.h"
#include "framework/CWaitCursor.h"
#include "res/resource.h"
#include <commctrl.h>

void CClassCreationMenu::Attach(HWND hPage, CComponentList* pList, std::function<VerificationFolders()> folders,
                                CListMenuExtension* pNext)
{
    m_hPage = hPage;
    m_pList = pList;
    m_folders = std::move(folders);
    m_pNext = pNext;
}

void CClassCreationMenu::AppendMenuItems(HMENU hMenu)
{
    if (GetMenuItemCount(hMenu) > 0) AppendMenuA(hMenu, MF_SEPARATOR, 0, nullptr);
    const bool bSelected = m_pList->GetSelectedCount() > 0;
    AppendMenuA(hMenu, MF_STRING | (bSelected ? 0 : MF_GRAYED), ID_CREATE_SELECTED_CLASSES,
                LoadResourceString(IDS_MENU_CREATE_SELECTED));
    AppendMenuA(hMenu, MF_STRING, ID_CREATE_ALL_CLASSES, LoadResourceString(IDS_MENU_CREATE_ALL));
    if (m_pNext) m_pNext->AppendMenuItems(hMenu);
}

bool CClassCreationMenu::OnMenuCommand(UINT nCommand)
{
    switch (nCommand) {
    case ID_CREATE_SELECTED_CLASSES: CreateClasses(false); return true;
    case ID_CREATE_ALL_CLASSES:      CreateClasses(true);  return true;
    default:                         return m_pNext && m_pNext->OnMenuCommand(nCommand);
    }
}

void CClassCreationMenu::CreateClasses(bool bAll)
{
    // Clicks and keys made meanwhile are dropped when it ends, as for the buttons.
    const CInputDiscard discard;
    CWaitCursor wait;
    std::vector<ComponentItem*> records;
    const int nCount = m_pList->GetItemCount();
    for (int i = 0; i < nCount; ++i)
        if (bAll || (m_pList->GetItemState(i, LVIS_SELECTED) & LVIS_SELECTED)) records.push_back(m_pList->GetRecord(i));
    CStopPrompt prompt(::GetParent(m_hPage));
    CreateRecordClasses(records, m_folders(), *this);
}

void CClassCreationMenu::SetProgressRange(int nUpper)
{
    SendDlgItemMessageA(m_hPage, IDC_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, nUpper));
}

void CClassCreationMenu::SetProgressPos(int nPos)
{
    SendDlgItemMessageA(m_hPage, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(nPos), 0);
    m_pump.Step();
}

void CClassCreationMenu::OnFolderEntered()
{
    m_pump.Step();
}

void CClassCreationMenu::OnWaiting(const CString& strFile, DWORD)
{
    CStopPrompt::OnCurrentWaiting(strFile);
}

bool CClassCreationMenu::IsStopRequested()
{
    return CStopPrompt::IsCurrentStopRequested();
}

void CClassCreationMenu::ResetStop()
{
    CStopPrompt::ResetCurrentStop();
}
