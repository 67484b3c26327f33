#pragma once
#include "framework/CDialog.h"

// The details of one component row: its diagnosis as read-only text, and a
// button that copies that text to the clipboard.
class CDetailsDialog : public CDialog {
public:
    CDetailsDialog(const CString& strCaption, const CString& strText);

protected:
    BOOL OnInitDialog() override;
    BOOL OnCommand(int nID, int nCode) override;

private:
    void OnCopy() const;

    CString m_strCaption;
    CString m_strText;
};
