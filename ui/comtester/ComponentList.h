#pragma once
#include "framework/CListCtrl.h"
#include "framework/CImageList.h"
#include "engine/components/ComponentItem.h"
#include "engine/components/VerificationSite.h"
#include "engine/components/WorkProgress.h"
#include <vector>

class CChangeRecording;

// The report-view list of the component catalogue on the COM tester page. It
// owns one ComponentItem per row (the row's item data, freed when the row is
// deleted), sorts on header clicks, and shows what the page's verification,
// registration and export find for its rows.
class CComponentList : public CListCtrl {
public:
    CComponentList() = default;
    ~CComponentList() override = default;

    // Columns, image list, catalogue and first sort; once, by the page.
    void InitList();
    void FillCatalogue();
    void AddComponent(const CString& strProgID, const CString& strFileName, int nKind);
    // The list view's sort callback: compares two records by the sort
    // parameter (column, plus 8 for descending).
    static int CALLBACK CompareItems(LPARAM lParam1, LPARAM lParam2, LPARAM lParamSort);

    ComponentItem* GetRecord(int nItem) const;
    void VerifyRegistration(const VerificationFolders& folders, CWorkProgress& progress);
    void VerifyFiles(const VerificationFolders& folders, CWorkProgress& progress);
    // One row looked for afresh, as "Verify Files Exist" would, and its
    // Registered cell read again; the row shows what it found.
    void VerifyRow(int nItem, const VerificationFolders& folders);
    // Runs the self-registration of the selected rows' files, in display
    // order, and shows what the registry says afterwards; the recording, when
    // given, keeps what the servers change.
    void RegisterSelected(bool bRegister, const VerificationFolders& folders, CWorkProgress& progress,
                          CChangeRecording* pRecording = nullptr);
    // One comma-separated line per row, in the order shown.
    CString GetResultsText() const;

    bool OnReflectedNotify(const NMHDR& nm, LRESULT& result) override;

private:
    LRESULT OnColumnClick(const NMLISTVIEW& nm);
    LRESULT OnDeleteItem(const NMLISTVIEW& nm);
    LRESULT OnKeyDown() { return 0; }

    // The rows' records from top to bottom; null where a row has none.
    std::vector<ComponentItem*> RecordsInDisplayOrder() const;
    // Moves a verified record's presence into the row's cells.
    void ShowPresence(int nItem, const ComponentItem& item);
    LPARAM SortParameter() const { return m_nSortColumn + 8 * m_bSortDescending; }

    CImageList m_imageList;
    BOOL m_bSortDescending = FALSE;
    int m_nSortColumn = 0;
};
