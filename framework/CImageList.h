#pragma once
#include <windows.h>
#include <commctrl.h>

// Owns an image list of the common controls; destroyed with this object.
class CImageList {
public:
    CImageList() = default;
    ~CImageList() { if (m_hImageList) ImageList_Destroy(m_hImageList); }
    CImageList(const CImageList&) = delete;
    CImageList& operator=(const CImageList&) = delete;

    bool Create(int cx, int cy, UINT nFlags, int nInitial, int nGrow);
    // Adds a copy of the icon's image; returns its index or -1.
    int Add(HICON hIcon) { return m_hImageList ? ImageList_AddIcon(m_hImageList, hIcon) : -1; }
    // Adds an icon of the program's resources at the list's image size.
    int AddResourceIcon(UINT nIconID);
    int GetImageCount() const { return m_hImageList ? ImageList_GetImageCount(m_hImageList) : 0; }
    HIMAGELIST GetSafeHandle() const { return m_hImageList; }

private:
    HIMAGELIST m_hImageList = nullptr;
};
