#pragma once
// The rows the presses of the COM tester's benchmarks run on.
#include <windows.h>
#include <commctrl.h>
#include "engine/components/Catalogue.h"

// Selects every row but the Windows system folder's: its file is a real
// server of the prefix, which the benchmark leaves alone. Gives the count.
inline int SelectTreeRows(HWND hList)
{
    const int nCount = static_cast<int>(SendMessageA(hList, LVM_GETITEMCOUNT, 0, 0));
    int nSelected = 0;
    for (int i = 0; i < nCount; ++i) {
        char szName[MAX_PATH] = "";
        LVITEMA item = {};
        item.pszText = szName;
        item.cchTextMax = MAX_PATH;
        SendMessageA(hList, LVM_GETITEMTEXTA, i, reinterpret_cast<LPARAM>(&item));
        const CatalogueEntry* pEntry = FindCatalogueEntry(szName);
        const bool bSelect = pEntry && pEntry->nKind != KIND_WINDOWS_SYSTEM;
        LVITEMA state = {};
        state.stateMask = LVIS_SELECTED;
        state.state = bSelect ? LVIS_SELECTED : 0;
        SendMessageA(hList, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&state));
        nSelected += bSelect;
    }
    return nSelected;
}
