#include "ui/comtester/ComponentList.h"
#include "engine/components/Catalogue.h"
#include "engine/components/RecordOrder.h"
#include "engine/components/Registration.h"
#include "engine/components/ResultsText.h"
#include "engine/components/Verification.h"
#include "framework/CWaitCursor.h"
#include "res/resource.h"

namespace {
struct ColumnLayout {
    UINT nHeadingID;
    int nWidth;
};
const ColumnLayout s_columns[] = {
    {IDS_COL_FILE_NAME, 120}, {IDS_COL_PROGID, 150},  {IDS_COL_REGISTERED, 70},
    {IDS_COL_ON_SYSTEM, 70},  {IDS_COL_VERSION, 120}, {IDS_COL_LOCATION, 120},
};
const int COL_REGISTERED = 2;
const int COL_ON_SYSTEM = 3;
const int COL_VERSION = 4;
const int COL_LOCATION = 5;
}

void CComponentList::InitList()
{
    const int nIcon = ScaleByDpi(16);
    if (m_imageList.Create(nIcon, nIcon, ILC_MASK, 2, 0)) {
        m_imageList.AddResourceIcon(IDI_COMPONENT);
        SetImageList(m_imageList.GetSafeHandle(), LVSIL_SMALL);
    }
    SetExtendedStyle(0, LVS_EX_FULLROWSELECT);
    int nColumn = 0;
    for (const ColumnLayout& column : s_columns)
        InsertColumn(nColumn++, LoadResourceString(column.nHeadingID), LVCFMT_LEFT, ScaleByDpi(column.nWidth));
    FillCatalogue();
    SortItems(&CompareItems, SortParameter());
}

void CComponentList::FillCatalogue()
{
    DeleteAllItems();
    for (int i = 0; i < g_nCatalogueEntries; ++i)
        AddComponent(g_catalogue[i].pszProgID, g_catalogue[i].pszFileName, g_catalogue[i].nKind);
}

void CComponentList::AddComponent(const CString& strProgID, const CString& strFileName, int nKind)
{
    const CString strNotChecked = LoadResourceString(IDS_NOT_CHECKED);
    const int nItem = GetItemCount();
    auto* pItem = new ComponentItem(strProgID, strFileName, nKind, strNotChecked);
    const int nInserted = InsertItem(nItem, strFileName, 0, reinterpret_cast<LPARAM>(pItem));
    if (nInserted < 0) {
        delete pItem;   // the control never took it, so no LVN_DELETEITEM will come
        return;
    }
    SetItemText(nInserted, 1, strProgID);
    SetItemText(nInserted, COL_REGISTERED, strNotChecked);
    SetItemText(nInserted, COL_ON_SYSTEM, strNotChecked);
}

int CALLBACK CComponentList::CompareItems(LPARAM lParam1, LPARAM lParam2, LPARAM lParamSort)
{
    const auto* pA = reinterpret_cast<const ComponentItem*>(lParam1);
    const auto* pB = reinterpret_cast<const ComponentItem*>(lParam2);
    if (!pA || !pB) return 0;
    const int nResult = CompareRecords(*pA, *pB, static_cast<int>(lParamSort & 7));
    return lParamSort > 7 ? -nResult : nResult;
}

bool CComponentList::OnReflectedNotify(const NMHDR& nm, LRESULT& result)
{
    switch (nm.code) {
    case LVN_COLUMNCLICK: result = OnColumnClick(reinterpret_cast<const NMLISTVIEW&>(nm)); return true;
    case LVN_DELETEITEM:  result = OnDeleteItem(reinterpret_cast<const NMLISTVIEW&>(nm)); return true;
    case LVN_KEYDOWN:     result = OnKeyDown(); return true;
    default:              return false;
    }
}

LRESULT CComponentList::OnColumnClick(const NMLISTVIEW& nm)
{
    if (nm.iSubItem == m_nSortColumn) {
        m_bSortDescending = !m_bSortDescending;
    } else {
        m_nSortColumn = nm.iSubItem;
        m_bSortDescending = FALSE;
    }
    SortItems(&CompareItems, SortParameter());
    return 0;
}

LRESULT CComponentList::OnDeleteItem(const NMLISTVIEW& nm)
{
    delete reinterpret_cast<ComponentItem*>(nm.lParam);
    return 0;
}

ComponentItem* CComponentList::GetRecord(int nItem) const
{
    return reinterpret_cast<ComponentItem*>(GetItemData(nItem));
}

std::vector<ComponentItem*> CComponentList::RecordsInDisplayOrder() const
{
    std::vector<ComponentItem*> records;
    const int nCount = GetItemCount();
    for (int i = 0; i < nCount; ++i) records.push_back(GetRecord(i));
    return records;
}

void CComponentList::VerifyRegistration(const VerificationFolders& folders, CWorkProgress& progress)
{
    CWaitCursor wait;
    const std::vector<ComponentItem*> records = RecordsInDisplayOrder();
    ::VerifyRegistration(records, folders, progress);
    // Rows a stop kept from being read keep their cells.
    for (size_t i = 0; i < records.size(); ++i)
        if (records[i] && !records[i]->bNotReached) SetItemText(static_cast<int>(i), COL_REGISTERED, records[i]->strRegistered);
}

void CComponentList::ShowPresence(int nItem, const ComponentItem& item)
{
    // No version or path of an earlier find stays beside "No".
    CString cells[6];
    GetRecordCells(item, cells);
    SetItemText(nItem, COL_LOCATION, cells[COL_LOCATION]);
    SetItemText(nItem, COL_VERSION, cells[COL_VERSION]);
    SetItemText(nItem, COL_ON_SYSTEM, cells[COL_ON_SYSTEM]);
}

void CComponentList::VerifyRow(int nItem, const VerificationFolders& folders)
{
    ComponentItem* pItem = GetRecord(nItem);
    if (!pItem) return;
    pItem->bNotReached = false;
    ::VerifyPresence(*pItem, folders);
    ShowPresence(nItem, *pItem);
    pItem->strRegistered = LoadResourceString(IsRegistered(*pItem) ? IDS_YES : IDS_NO);
    SetItemText(nItem, COL_REGISTERED, pItem->strRegistered);
}

void CComponentList::VerifyFiles(const VerificationFolders& folders, CWorkProgress& progress)
{
    CWaitCursor wait;
    const std::vector<ComponentItem*> records = RecordsInDisplayOrder();
    ::VerifyFiles(records, folders, progress);
    for (size_t i = 0; i < records.size(); ++i)
        if (records[i] && !records[i]->bNotReached) ShowPresence(static_cast<int>(i), *records[i]);
}

void CComponentList::RegisterSelected(bool bRegister, const VerificationFolders& folders, CWorkProgress& progress,
                                      CChangeRecording* pRecording)
{
    CWaitCursor wait;
    std::vector<int> rows;
    std::vector<ComponentItem*> records;
    const int nCount = GetItemCount();
    for (int j = 0; j < nCount; ++j) {
        if (!(GetItemState(j, LVIS_SELECTED) & LVIS_SELECTED)) continue;
        rows.push_back(j);
        records.push_back(GetRecord(j));
    }
    RunOptions options;
    options.pRecording = pRecording;
    RegisterRecords(records, bRegister, folders, progress, options);
    for (size_t i = 0; i < rows.size(); ++i)
        if (records[i] && !records[i]->bNotReached) SetItemText(rows[i], COL_REGISTERED, records[i]->strRegistered);
}

CString CComponentList::GetResultsText() const
{
    CString strText;
    const int nCount = GetItemCount();
    for (int i = 0; i < nCount; ++i) {
        CString cells[6];
        for (int c = 0; c < 6; ++c) cells[c] = GetItemText(i, c);
        strText += FormatResultsLine(cells);
    }
    return strText;
}
