#include "framework/CImageList.h"
#include "framework/Resources.h"

bool CImageList::Create(int cx, int cy, UINT nFlags, int nInitial, int nGrow)
{
    if (m_hImageList) ImageList_Destroy(m_hImageList);
    m_hImageList = ImageList_Create(cx, cy, nFlags, nInitial, nGrow);
    return m_hImageList != nullptr;
}

int CImageList::AddResourceIcon(UINT nIconID)
{
    if (!m_hImageList) return -1;
    int cx = 0, cy = 0;
    ImageList_GetIconSize(m_hImageList, &cx, &cy);
    // LoadImage picks the icon's image of this size; LoadIcon would pick the
    // 32x32 one and shrink it.
    HICON hIcon = static_cast<HICON>(LoadImageA(ResourceInstance(), MAKEINTRESOURCEA(nIconID), IMAGE_ICON, cx, cy, 0));
    if (!hIcon) return -1;
    const int nIndex = ImageList_AddIcon(m_hImageList, hIcon);
    DestroyIcon(hIcon);
    return nIndex;
}
