#include "ui/comtester/UndoPanel.h"
#include "ui/comtester/ComponentList.h"
#include "engine/diagnosis/ClassRegistration.h"
#include "system/Registry.h"
#include "framework/CWaitCursor.h"
#include "res/resource.h"
#include <set>

namespace {
std::wstring Lower(std::wstring str)
{
    if (!str.empty()) CharLowerBuffW(&str[0], static_cast<DWORD>(str.size()));
    return str;
}

// The names a row is known by in the registry: its ProgID and its class.
std::set<std::wstring> RowNames(const ComponentItem& item)
{
    std::set<std::wstring> names;
    if (item.strProgID.IsEmpty()) return names;
    names.insert(Lower(item.strProgID.ToWide()));
    for (int nBits : {32, 64}) {
        const CString strClsid = ReadProgIDClsid(HKEY_CLASSES_ROOT, item.strProgID, nBits).strText;
        if (!strClsid.IsEmpty()) names.insert(Lower(strClsid.ToWide()));
    }
    return names;
}

// True when one of the key paths has a part that is one of the names.
bool TouchesAny(const std::vector<std::wstring>& keys, const std::set<std::wstring>& names)
{
    for (const std::wstring& strKey : keys) {
        const std::wstring strPath = Lower(strKey) + L'\\';
        size_t nStart = 0;
        for (size_t nEnd; (nEnd = strPath.find(L'\\', nStart)) != std::wstring::npos; nStart = nEnd + 1)
            if (names.count(strPath.substr(nStart, nEnd - nStart))) return true;
    }
    return false;
}

CString Narrow(const std::wstring& str)
{
    return CString::FromWide(str.c_str(), static_cast<int>(str.size()));
}

// The question before an undo: what the file undoes, from where and whom,
// what it restores, and the machine's keys it deletes.
CString ConfirmText(const UndoFileContent& content)
{
    const size_t MAX_LISTED = 8;
    const UndoFileHeader& header = content.info.header;
    CString strDeletes;
    if (!content.machineDeletes.empty()) {
        strDeletes = LoadResourceString(IDS_UNDO_CONFIRM_MACHINE_DELETES);
        for (size_t i = 0; i < content.machineDeletes.size() && i < MAX_LISTED; ++i)
            strDeletes += Narrow(content.machineDeletes[i]) + "\r\n";
        if (content.machineDeletes.size() > MAX_LISTED) {
            CString strMore;
            strMore.Format(LoadResourceString(IDS_UNDO_CONFIRM_MORE), static_cast<int>(content.machineDeletes.size() - MAX_LISTED));
            strDeletes += strMore;
        }
    }
    CString strText;
    strText.Format(LoadResourceString(IDS_UNDO_CONFIRM), Narrow(header.strAction).GetString(),
                   Narrow(header.strTime).GetString(), Narrow(header.strComputer).GetString(),
                   Narrow(header.strUser).GetString(), content.info.counts.nKeys, content.info.counts.nValues,
                   CString::FromWide(content.strFile.c_str()).GetString(), strDeletes.GetString());
    return strText;
}
}

void CUndoPanel::Attach(HWND hPage, CComponentList* pList, std::function<VerificationFolders()> folders)
{
    m_hPage = hPage;
    m_pList = pList;
    m_folders = std::move(folders);
}

void CUndoPanel::ShowLines(const CString& strStatus, const std::wstring& strFile)
{
    SetDlgItemTextA(m_hPage, IDC_UNDO_STATUS, strStatus);
    SetDlgItemTextW(m_hPage, IDC_UNDO_FILE, strFile.c_str());
}

int CUndoPanel::Ask(const CString& strText, UINT nType) const
{
    return MessageBoxA(::GetParent(m_hPage), strText, LoadResourceString(IDS_SHEET_CAPTION), nType);
}

void CUndoPanel::ShowOutcome(const UndoOutcome& outcome)
{
    CString strStatus;
    if (outcome.bWritten) {
        strStatus.Format(LoadResourceString(IDS_UNDO_STATUS_WRITTEN), outcome.counts.nKeys, outcome.counts.nValues);
        ShowLines(strStatus, outcome.strFile);
    } else if (outcome.bRecorded && outcome.strError.IsEmpty()) {
        ShowLines(LoadResourceString(IDS_UNDO_UNCHANGED), std::wstring());
    } else if (!outcome.strError.IsEmpty()) {
        strStatus.Format(LoadResourceString(outcome.bRecorded ? IDS_UNDO_NOT_WRITTEN : IDS_UNDO_NOT_KEPT),
                         outcome.strError.GetString());
        ShowLines(strStatus, std::wstring());
        Ask(strStatus, MB_OK | MB_ICONWARNING);
    }
}

void CUndoPanel::AppendMenuItems(HMENU hMenu)
{
    if (GetMenuItemCount(hMenu) > 0) AppendMenuA(hMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(hMenu, MF_STRING, ID_UNDO_LAST_CHANGE, LoadResourceString(IDS_MENU_UNDO_LAST));
}

bool CUndoPanel::OnMenuCommand(UINT nCommand)
{
    if (nCommand != ID_UNDO_LAST_CHANGE) return false;
    UndoLastChange();
    return true;
}

void CUndoPanel::UndoLastChange()
{
    CString strText;
    const std::wstring strFile = LastUndoFile();
    if (strFile.empty()) {
        strText.Format(LoadResourceString(IDS_UNDO_NONE), CString::FromWide(UndoFolder().c_str()).GetString());
        Ask(strText, MB_OK | MB_ICONINFORMATION);
        return;
    }
    // The file is read and checked once, shown, and what was shown applied.
    UndoFileContent content;
    CString strReason;
    if (ReadUndoFile(strFile, content, strReason) != UndoApplyStatus::Applied) {
        Ask(strReason, MB_OK | MB_ICONWARNING);
        return;
    }
    if (Ask(ConfirmText(content), MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2) != IDOK) return;

    UndoApplyResult result;
    {
        CWaitCursor wait;
        // Each row's names as they are before the undo and after it: a
        // class the undo deletes or puts back is affected either way.
        const int nCount = m_pList->GetItemCount();
        std::vector<std::set<std::wstring>> names(static_cast<size_t>(nCount));
        for (int i = 0; i < nCount; ++i)
            if (const ComponentItem* pItem = m_pList->GetRecord(i)) names[static_cast<size_t>(i)] = RowNames(*pItem);
        result = ApplyUndoContent(content);
        for (int i = 0; i < nCount; ++i) {
            const ComponentItem* pItem = m_pList->GetRecord(i);
            if (!pItem) continue;
            std::set<std::wstring>& rowNames = names[static_cast<size_t>(i)];
            const std::set<std::wstring> after = RowNames(*pItem);
            rowNames.insert(after.begin(), after.end());
            if (TouchesAny(result.keys, rowNames)) m_pList->VerifyRow(i, m_folders());
        }
    }
    if (result.status == UndoApplyStatus::Applied && result.own.bWritten) {
        CString strStatus;
        strStatus.Format(LoadResourceString(IDS_UNDO_STATUS_APPLIED), result.counts.nKeys, result.counts.nValues);
        ShowLines(strStatus, result.own.strFile);
    } else {
        ShowOutcome(result.own);
    }
    if (result.status != UndoApplyStatus::Applied) Ask(result.strReason, MB_OK | MB_ICONWARNING);
}
