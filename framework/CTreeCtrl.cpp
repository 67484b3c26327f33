#include "framework/CTreeCtrl.h"

HTREEITEM CTreeCtrl::InsertItem(const CString& text, int nImage, int nSelectedImage, UINT nState, UINT nStateMask,
                                LPARAM lParam, HTREEITEM hParent, HTREEITEM hInsertAfter) const
{
    TVINSERTSTRUCTA insert = {};
    insert.hParent = hParent;
    insert.hInsertAfter = hInsertAfter;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_STATE | TVIF_PARAM;
    insert.item.pszText = const_cast<LPSTR>(text.GetString());
    insert.item.iImage = nImage;
    insert.item.iSelectedImage = nSelectedImage;
    insert.item.state = nState;
    insert.item.stateMask = nStateMask;
    insert.item.lParam = lParam;
    return reinterpret_cast<HTREEITEM>(SendMessage(TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}
