#pragma once
#include "framework/CWnd.h"

// A view of a tree-view control made by a dialog template.
class CTreeCtrl : public CWnd {
public:
    // Inserts a node under hParent (TVI_ROOT for the top level) after
    // hInsertAfter (TVI_FIRST, TVI_LAST or a sibling), with the state bits of
    // nStateMask set as nState says; null on failure.
    HTREEITEM InsertItem(const CString& text, int nImage, int nSelectedImage, UINT nState, UINT nStateMask,
                         LPARAM lParam, HTREEITEM hParent, HTREEITEM hInsertAfter) const;
    bool DeleteAllItems() const
    {
        return SendMessage(TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT)) != 0;
    }
    bool Expand(HTREEITEM hItem, UINT nCode) const
    {
        return SendMessage(TVM_EXPAND, nCode, reinterpret_cast<LPARAM>(hItem)) != 0;
    }
    // A tree view never destroys its image lists; the caller keeps owning it.
    void SetImageList(HIMAGELIST hImageList, int nImageListType) const
    {
        SendMessage(TVM_SETIMAGELIST, static_cast<WPARAM>(nImageListType), reinterpret_cast<LPARAM>(hImageList));
    }
};
