#pragma once
#include "framework/CString.h"
#include "system/Registry.h"

// What one registry view (the 32-bit or the 64-bit one) says about a class.
struct ClassServerView {
    bool bClassKey = false;       // CLSID\{...} exists in this view
    CString strServerKey;         // "InprocServer32" or "LocalServer32"; empty when neither
    CString strServerValue;       // as stored
    CString strServerPath;        // environment strings expanded, quotes and switches removed
    CString strThreadingModel;
};

// How a row's ProgID is registered, read from both registry views. Plain
// functions over the registry, so the page, a report and tests share them.
struct ClassRegistration {
    CString strUserClsid;         // HKEY_CURRENT_USER\Software\Classes\<ProgID>\Clsid
    CString strMachineClsid;      // HKEY_LOCAL_MACHINE\Software\Classes\<ProgID>\Clsid
    CString strClsid;             // the one in effect: the user's, else the machine's
    bool bUserOverrides = false;  // both exist and the user's differs
    bool bClsidWrongType = false; // the Clsid value in effect is no REG_SZ ...
    DWORD dwClsidWrongType = 0;   // ... but of this type
    bool bOtherViewExists = false;   // a 64-bit system: there is a second view
    int nViewBits = 0;            // the row's view, 32 or 64: the one its clients use
    ClassServerView rowView;      // the class in the row's view
    ClassServerView otherView;    // ... in the other view
    ClassServerView machineView;  // the machine's class in the row's view, read when the user's overrides it
};

// The "Clsid" default value under a ProgID's key (strProgIDKey, below
// hRoot), as a client of that bitness reads it. ProgIDs are shared by both
// views on current systems, and stay where a server of either bitness wrote
// them; a system that keeps them apart (or Wine, which files a 32-bit
// server's in the shared key but answers the 32-bit view from its own) has
// the value in the client's view, else in this program's.
RegValue ReadProgIDClsid(HKEY hRoot, const CString& strProgIDKey, int nViewBits);

// Reads the registration in the view of nViewBits (32 or 64; 0: this
// build's own), the view a server of that bitness registers in.
ClassRegistration ReadClassRegistration(const CString& strProgID, bool bPreferLocalServer, int nViewBits = 0);
