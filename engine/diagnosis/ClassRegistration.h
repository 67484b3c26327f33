#pragma once
#include "framework/CString.h"

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
    ClassServerView thisView;     // this build's view
    ClassServerView otherView;    // KEY_WOW64_32KEY from a 64-bit build, KEY_WOW64_64KEY from a 32-bit one
    ClassServerView machineView;  // the machine's class in this view, read when the user's overrides it
};

ClassRegistration ReadClassRegistration(const CString& strProgID, bool bPreferLocalServer);
