#pragma once
#include "framework/CWnd.h"

// A view of a progress-bar control made by a dialog template.
class CProgressCtrl : public CWnd {
public:
    // Both bounds are 16-bit: PBM_SETRANGE packs them into one LPARAM.
    void SetRange(short nLower, short nUpper) const;
    int SetPos(int nPos) const;
};
