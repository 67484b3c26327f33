#pragma once
#include "framework/CWnd.h"

// A view of a list-view control made by a dialog template.
class CListCtrl : public CWnd {
public:
    int InsertColumn(int nCol, const CString& heading, int nFormat, int nWidth) const;
    // Inserts an item with text, image and item data; returns its index or -1.
    int InsertItem(int nItem, const CString& text, int nImage, LPARAM lParam) const;
    // Inserts an item with text and image only.
    int InsertItem(int nItem, const CString& text, int nImage) const;
    bool SetItemText(int nItem, int nSubItem, const CString& text) const;
    CString GetItemText(int nItem, int nSubItem) const;
    LPARAM GetItemData(int nItem) const;
    UINT GetItemState(int nItem, UINT nMask) const;
    int GetItemCount() const { return static_cast<int>(SendMessage(LVM_GETITEMCOUNT)); }
    int GetSelectedCount() const { return static_cast<int>(SendMessage(LVM_GETSELECTEDCOUNT)); }
    bool DeleteAllItems() const { return SendMessage(LVM_DELETEALLITEMS) != 0; }
    bool SortItems(PFNLVCOMPARE pfnCompare, LPARAM lParamSort) const
    {
        return SendMessage(LVM_SORTITEMS, static_cast<WPARAM>(lParamSort), reinterpret_cast<LPARAM>(pfnCompare)) != 0;
    }
    // Sets the extended styles under the mask; a mask of 0 replaces them all.
    void SetExtendedStyle(DWORD dwMask, DWORD dwStyle) const
    {
        SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, dwMask, dwStyle);
    }
    // Installs an image list that the caller keeps owning (see the .cpp).
    void SetImageList(HIMAGELIST hImageList, int nImageListType) const;
};
