#pragma once
#include "framework/CListCtrl.h"
#include "framework/CImageList.h"
#include "comtester/ComponentItem.h"

class CComTester;
class CFolderSearch;

// The report-view list of the component catalogue on the COM tester page. It
// owns one ComponentItem per row (the row's item data, freed when the row is
// deleted), sorts on header clicks, and runs the page's verification,
// registration and export over its rows.
class CComponentList : public CListCtrl {
public:
    CComponentList() = default;
    ~CComponentList() override = default;

    // Columns, image list, catalogue and first sort; once, by the page.
    void InitList(CComTester* pPage);
    void FillCatalogue();
    void AddComponent(const CString& strProgID, const CString& strFileName, int nKind);
    // The list view's sort callback: compares two records by the sort
    // parameter (column, plus 8 for descending).
    static int CALLBACK CompareItems(LPARAM lParam1, LPARAM lParam2, LPARAM lParamSort);

    bool IsRegistered(int nItem) const;
    void VerifyRegistration();
    // The row's file path by its kind, kept in the record's strLocation.
    CString ResolveLocation(int nItem);
    void VerifyPresence(int nItem);
    void VerifyFiles();
    // Runs the self-registration of the selected rows' files, in display
    // order, and shows what the registry says afterwards.
    void RegisterSelected(bool bRegister);
    // One comma-separated line per row, in the order shown.
    CString GetResultsText() const;

    bool OnReflectedNotify(const NMHDR& nm, LRESULT& result) override;

private:
    LRESULT OnColumnClick(const NMLISTVIEW& nm);
    LRESULT OnDeleteItem(const NMLISTVIEW& nm);
    LRESULT OnKeyDown() { return 0; }

    ComponentItem* GetRecord(int nItem) const;
    LPARAM SortParameter() const { return m_nSortColumn + 8 * m_bSortDescending; }
    // The searches of one "Verify Files Exist" press answer for the names
    // they cover; anything else is searched for on its own.
    CString SearchTree(const CFolderSearch* pSearch, const CString& strFolder, const CString& strFileName) const;
    CString ResolveLocation(int nItem, const CFolderSearch* pToolSearch, const CFolderSearch* pCommonSearch);
    void VerifyPresence(int nItem, const CFolderSearch* pToolSearch, const CFolderSearch* pCommonSearch);

    CImageList m_imageList;
    BOOL m_bSortDescending = FALSE;
    int m_nSortColumn = 0;
    CComTester* m_pPage = nullptr;
};
