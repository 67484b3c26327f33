#pragma once
#include "framework/CPropertyPage.h"
#include "framework/CListCtrl.h"
#include "framework/CImageList.h"
#include "projecttester/ProjectTesterTree.h"

class CSupportSheet;
struct IAppServices;

// The Project tester page: opens a project through the authoring tool's
// automation server, shows its structure and lists every failed call.
class CProjectTester : public CPropertyPage {
public:
    CProjectTester();
    ~CProjectTester() override = default;

    // Appends one line to the error list.
    void AddError(const CString& strText);
    // Adds the line and gives true when hr is a failure code.
    bool ReportIfFailed(HRESULT hr, const CString& strText);

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange() override;
    BOOL OnCommand(int nID, int nCode) override;

private:
    void OnBrowse();
    void OnTestProject();
    void OnCopyResults();
    // Creates the server object and fills *ppAppServices; false (with its
    // line added) when that was not possible.
    bool CreateAppServices(IAppServices** ppAppServices);

    CListCtrl m_errorList;
    CProjectTesterTree m_tree;
    CSupportSheet* m_pSheet = nullptr;
    CString m_strProjectLocation;
    CImageList m_errorImages;
};
