#include "ui/comtester/DetailsDialog.h"
#include "system/ClipboardText.h"
#include "res/resource.h"

CDetailsDialog::CDetailsDialog(const CString& strCaption, const CString& strText)
    : CDialog(IDD_COMPONENT_DETAILS), m_strCaption(strCaption), m_strText(strText)
{
}

BOOL CDetailsDialog::OnInitDialog()
{
    SetWindowText(m_strCaption);
    SetDlgItemText(IDC_DETAILS_TEXT, m_strText);
    // Focus on Close rather than on the text, which the dialog manager would
    // otherwise show wholly selected.
    SetFocus(GetDlgItem(IDOK));
    return FALSE;
}

BOOL CDetailsDialog::OnCommand(int nID, int nCode)
{
    if (nID == IDC_DETAILS_COPY && nCode == BN_CLICKED) {
        OnCopy();
        return TRUE;
    }
    return CDialog::OnCommand(nID, nCode);
}

void CDetailsDialog::OnCopy() const
{
    PlaceTextOnClipboard(m_hWnd, m_strText);
}
