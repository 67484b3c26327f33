#pragma once
#include "framework/CString.h"

// How far creating a row's class got, in the order the stages run.
enum ActivationStage {
    ACTIVATION_NONE = 0,       // nothing ran: no helper answered
    ACTIVATION_PROGID,         // the ProgID to its CLSID
    ACTIVATION_LOAD,           // loading the server DLL, or starting the local server
    ACTIVATION_CLASS_OBJECT,   // its class object (IClassFactory)
    ACTIVATION_CREATE,         // CreateInstance for IUnknown
    ACTIVATION_DISPATCH,       // IDispatch and its type information
    ACTIVATION_CREATED,        // every stage passed
};

// What creating one row's class did, kept with the row for its verdict,
// its details and the report.
struct ActivationResult {
    bool bTried = false;
    bool bLocalServer = false;
    // The stage it ended in: the one that failed (or was running when the
    // helper was ended), or ACTIVATION_CREATED.
    ActivationStage nStage = ACTIVATION_NONE;
    HRESULT hr = S_OK;
    double dMilliseconds = 0;
    DWORD dwFaultCode = 0;          // an exception caught in the server's code ...
    CString strFaultModule;         // ... in this module
    bool bStopped = false;          // the helper was ended: at the time limit,
    bool bTimedOut = false;         // else at the user's request
    bool bHostEnded = false;        // the helper ended before it answered ...
    DWORD dwExitCode = 0;           // ... with this exit code
    CString strProgram;             // the helper's program
    int nServersEnded = 0;          // local server processes started for the check and ended after it

    bool Failed() const { return bTried && nStage != ACTIVATION_CREATED; }
};
