#pragma once
#include "framework/CPropertyPage.h"
#include "framework/CListCtrl.h"
#include "framework/CImageList.h"
#include "ui/projecttester/ProjectTesterTree.h"

class CSupportSheet;

// The Project tester page: opens a project through the authoring tool's
// automation server, shows its structure and lists every failed call.
class CProjectTester : public CPropertyPage {
public:
    CProjectTester();
    ~CProjectTester() override = default;

    // Appends one line to the error list; the tree passes its test's
    // failure lines here.
    void AddError(const CString& strText);

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange() override;
    BOOL OnCommand(int nID, int nCode) override;

private:
    void OnBrowse();
    void OnTestProject();
    void OnCopyResults();

    CListCtrl m_errorList;
    CProjectTesterTree m_tree;
    CSupportSheet* m_pSheet = nullptr;
    CString m_strProjectLocation;
    CImageList m_errorImages;
};
