#pragma once
// Running a COM server file's own self-registration: the DLL entry points
// "DllRegisterServer"/"DllUnregisterServer", or an executable's
// "/regserver"/"/unregserver" switch. Window-free, so tests call it directly.
#include "framework/CString.h"

// How far one self-registration call got, in the order the steps run.
enum RegistrationStage {
    STAGE_NONE = 0,        // nothing was loaded or started
    STAGE_MAPPED,          // mapped to look at its exports, none of it run
    STAGE_ENTRY_FOUND,     // the entry point is exported
    STAGE_LOADED,          // loaded for real: its start-up code ran
    STAGE_ENTRY_RETURNED,  // the entry point returned hr
    STAGE_STARTED,         // the executable's process was started
    STAGE_ENDED,           // ... and has ended with dwExitCode
};

// What one call did, for a caller that wants to say why it failed.
struct RegistrationResult {
    bool bDone = false;             // a call was made
    bool bRegister = false;
    RegistrationStage nStage = STAGE_NONE;
    // The entry point's result; for a step that failed, the system's error
    // as an HRESULT (S_OK when nothing failed).
    HRESULT hr = S_OK;
    DWORD dwFaultCode = 0;          // an exception caught in the server's code
    CString strFaultModule;         // the file of the module it happened in
    DWORD dwExitCode = 0;           // the executable's, at STAGE_ENDED
    double dMilliseconds = 0;
};

// Registers (bRegister) or unregisters one server file. True only when an
// in-process server's entry point ran and returned exactly S_OK; always false
// for an executable, whose outcome the caller checks in the registry. When
// pResult is given, it receives what the call did.
bool RegisterServerFile(const CString& strPath, bool bRegister, RegistrationResult* pResult = nullptr);

// True when this system starts programs built for that machine
// (IMAGE_FILE_MACHINE_*): its own, and those it emulates.
bool IsRunnableMachine(WORD wMachine);

// Starts the file hidden with the parameters, in the folder that holds it, and
// waits for its process to end, without a time-out.
void ExecuteAndWait(const CString& strPath, const CString& strParameters, RegistrationResult* pResult = nullptr);
