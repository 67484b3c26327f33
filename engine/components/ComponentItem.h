#pragma once
#include "framework/CString.h"
#include "engine/components/SelfRegistration.h"
#include "engine/components/ActivationResult.h"

// The record behind one row of the component list, owned by the list as the
// row's item data.
struct ComponentItem {
    ComponentItem(const CString& strProgIDIn, const CString& strFileNameIn, int nKindIn, const CString& strNotChecked);
    ~ComponentItem();
    ComponentItem(const ComponentItem&) = delete;
    ComponentItem& operator=(const ComponentItem&) = delete;

    // Records alive in the process, so a leak or double free shows.
    static int LiveCount();

    CString strProgID;
    CString strFileName;
    CString strRegistered;
    CString strOnSystem;
    int nKind;
    CString strLocation;
    bool bLookedFor = false;        // strLocation has been worked out, found or not
    bool bNotReached = false;       // the last verification was stopped before this row
    DWORD dwVersionMS = 0;
    DWORD dwVersionLS = 0;
    // The last register or unregister of the row's file in this run.
    RegistrationResult lastAction;
    // The last creating of the row's class in this run.
    ActivationResult lastActivation;
};
