#include "comtester/ComponentList.h"
#include "comtester/Catalogue.h"
#include "comtester/ComTester.h"
#include "comtester/FileSearch.h"
#include "comtester/ResultsText.h"
#include "app/SystemServices.h"
#include "framework/CFileFind.h"
#include "framework/CPaintPump.h"
#include "framework/CWaitCursor.h"
#include "res/resource.h"
#include <mbstring.h>

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

int CompareText(const CString& a, const CString& b)
{
    return _mbsicmp(reinterpret_cast<const unsigned char*>(a.GetString()),
                    reinterpret_cast<const unsigned char*>(b.GetString()));
}

int CompareVersion(const ComponentItem& a, const ComponentItem& b)
{
    if (a.dwVersionMS != b.dwVersionMS) return a.dwVersionMS > b.dwVersionMS ? 1 : -1;
    if (a.dwVersionLS != b.dwVersionLS) return a.dwVersionLS > b.dwVersionLS ? 1 : -1;
    return 0;
}

CString WindowsSystemDirectory()
{
    char szDir[MAX_PATH] = "";
    const UINT nLength = GetSystemDirectoryA(szDir, MAX_PATH);
    return nLength > 0 && nLength < MAX_PATH ? CString(szDir) : CString();
}
}

void CComponentList::InitList(CComTester* pPage)
{
    m_pPage = pPage;
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
    int nResult = 0;
    switch (lParamSort & 7) {
    case 0: nResult = CompareText(pA->strFileName, pB->strFileName); break;
    case 1: nResult = CompareText(pA->strProgID, pB->strProgID); break;
    case 2: nResult = CompareText(pA->strRegistered, pB->strRegistered); break;
    case 3: nResult = CompareText(pA->strOnSystem, pB->strOnSystem); break;
    case 4: nResult = CompareVersion(*pA, *pB); break;
    case 5: nResult = CompareText(pA->strLocation, pB->strLocation); break;
    default: break;
    }
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

bool CComponentList::IsRegistered(int nItem) const
{
    const ComponentItem* pItem = GetRecord(nItem);
    if (!pItem || pItem->strProgID.IsEmpty()) return false;
    return !m_pPage->ReadRegString(HKEY_CLASSES_ROOT, pItem->strProgID + "\\Clsid", "").IsEmpty();
}

void CComponentList::VerifyRegistration()
{
    CWaitCursor wait;
    const CString strYes = LoadResourceString(IDS_YES);
    const CString strNo = LoadResourceString(IDS_NO);
    const int nCount = GetItemCount();
    m_pPage->SetProgressRange(0, static_cast<short>(nCount));
    for (int i = 0; i < nCount; ++i) {
        m_pPage->SetProgressPos(i);
        ComponentItem* pItem = GetRecord(i);
        if (!pItem) continue;
        pItem->strRegistered = IsRegistered(i) ? strYes : strNo;
        SetItemText(i, COL_REGISTERED, pItem->strRegistered);
    }
    m_pPage->SetProgressPos(0);
}

CString CComponentList::SearchTree(const CFolderSearch* pSearch, const CString& strFolder,
                                   const CString& strFileName) const
{
    if (pSearch && pSearch->Covers(strFolder, strFileName)) return pSearch->PathOf(strFileName);
    return m_pPage->FindFileInTree(strFolder, strFileName);
}

CString CComponentList::ResolveLocation(int nItem)
{
    return ResolveLocation(nItem, nullptr, nullptr);
}

CString CComponentList::ResolveLocation(int nItem, const CFolderSearch* pToolSearch, const CFolderSearch* pCommonSearch)
{
    ComponentItem* pItem = GetRecord(nItem);
    if (!pItem) return CString();
    switch (pItem->nKind) {
    case KIND_TOOL_SYSTEM:
        pItem->strLocation = SearchTree(pToolSearch, m_pPage->GetSystemFolder(), pItem->strFileName);
        break;
    case KIND_WINDOWS_SYSTEM:
        if (pItem->strLocation.IsEmpty())
            pItem->strLocation = m_pPage->MakeFilePath(WindowsSystemDirectory(), pItem->strFileName);
        break;
    case KIND_COMMON_FILES:
        if (pItem->strLocation.IsEmpty()) {
            pItem->strLocation = SearchTree(pCommonSearch, m_pPage->GetCommonFilesFolder(), pItem->strFileName);
            if (pItem->strLocation.IsEmpty())
                pItem->strLocation = m_pPage->MakeFilePath(m_pPage->GetSystemFolder(), pItem->strFileName);
        }
        break;
    default:
        break;
    }
    return pItem->strLocation;
}

void CComponentList::VerifyPresence(int nItem)
{
    VerifyPresence(nItem, nullptr, nullptr);
}

void CComponentList::VerifyPresence(int nItem, const CFolderSearch* pToolSearch, const CFolderSearch* pCommonSearch)
{
    ComponentItem* pItem = GetRecord(nItem);
    if (!pItem) return;
    const CString strPath = ResolveLocation(nItem, pToolSearch, pCommonSearch);
    // A folder that happens to carry the file's name is not the file.
    CFileFind find;
    const bool bPresent = !strPath.IsEmpty() && find.FindFile(strPath) && !find.IsDirectory();
    find.Close();
    if (bPresent) {
        pItem->strOnSystem = LoadResourceString(IDS_YES);
        SetItemText(nItem, COL_LOCATION, pItem->strLocation);
        m_pPage->GetFileVersion(pItem->strLocation, pItem->dwVersionMS, pItem->dwVersionLS);
        SetItemText(nItem, COL_VERSION, FormatFileVersion(pItem->dwVersionMS, pItem->dwVersionLS));
    } else {
        // No version or path of an earlier find stays beside "No".
        pItem->strOnSystem = LoadResourceString(IDS_NO);
        pItem->dwVersionMS = pItem->dwVersionLS = 0;
        SetItemText(nItem, COL_VERSION, CString());
        SetItemText(nItem, COL_LOCATION, CString());
    }
    SetItemText(nItem, COL_ON_SYSTEM, pItem->strOnSystem);
}

void CComponentList::VerifyFiles()
{
    CWaitCursor wait;
    const int nCount = GetItemCount();
    m_pPage->SetProgressRange(0, static_cast<short>(nCount));

    // One walk of each tree answers every row that searches it, with the
    // answers a search per row would give.
    std::vector<CString> toolNames, commonNames;
    for (int i = 0; i < nCount; ++i) {
        const ComponentItem* pItem = GetRecord(i);
        if (!pItem) continue;
        if (pItem->nKind == KIND_TOOL_SYSTEM) toolNames.push_back(pItem->strFileName);
        if (pItem->nKind == KIND_COMMON_FILES && pItem->strLocation.IsEmpty()) commonNames.push_back(pItem->strFileName);
    }
    // A walk can take long (a large tree, a slow share): the sheet keeps
    // painting meanwhile, and the bar runs round its range until the rows
    // are filled, then counts them.
    CPaintPump pump;
    int nWalkPos = 0;
    const int nWalkStep = nCount / 20 + 1;
    const auto onFolder = [&] {
        if (pump.Step()) m_pPage->SetProgressPos(nWalkPos = (nWalkPos + nWalkStep) % (nCount + 1));
    };
    const CFolderSearch toolSearch(m_pPage->GetSystemFolder(), toolNames, onFolder);
    const CFolderSearch commonSearch(commonNames.empty() ? CString() : m_pPage->GetCommonFilesFolder(), commonNames,
                                     onFolder);

    for (int i = 0; i < nCount; ++i) {
        m_pPage->SetProgressPos(i);
        VerifyPresence(i, &toolSearch, &commonSearch);
        pump.Step();
    }
    m_pPage->SetProgressPos(0);
}

void CComponentList::RegisterSelected(bool bRegister)
{
    CWaitCursor wait;
    const CString strYes = LoadResourceString(IDS_YES);
    const CString strNo = LoadResourceString(IDS_NO);
    const int nCount = GetItemCount();
    m_pPage->SetProgressRange(0, static_cast<short>(GetSelectedCount()));
    int nDone = 0;
    for (int j = 0; j < nCount; ++j) {
        if (!(GetItemState(j, LVIS_SELECTED) & LVIS_SELECTED)) continue;
        m_pPage->SetProgressPos(++nDone);
        ComponentItem* pItem = GetRecord(j);
        if (!pItem) continue;
        m_pPage->RegisterServerFile(ResolveLocation(j), bRegister, &pItem->lastAction);
        // The registry decides either way: a server that refused to
        // unregister still shows "Yes".
        pItem->strRegistered = IsRegistered(j) ? strYes : strNo;
        SetItemText(j, COL_REGISTERED, pItem->strRegistered);
    }
    m_pPage->SetProgressPos(0);
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
