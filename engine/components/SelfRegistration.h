#pragma once
// Running a COM server file's own self-registration: the DLL entry points
// "DllRegisterServer"/"DllUnregisterServer", or an executable's
// "/regserver"/"/unregserver" switch. Window-free, so tests call it directly.
// No server runs in the calling process: a DLL's entry point runs in a
// helper process of its bitness (ServerHost.h), an executable in its own.
#include "framework/CString.h"
#include "engine/components/WorkProgress.h"
#include "system/FolderTrust.h"
#include <optional>

class CChangeRecording;
class CServerHosts;

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

// Which program ran a server's self-registration. An in-process server
// loads only into a process of its own bitness: one of the other bitness is
// handed to the sibling program beside this one.
enum RegistrationRoute {
    ROUTE_THIS_PROGRAM = 0,
    ROUTE_SIBLING,                 // the sibling ran it: strProgram
    ROUTE_NO_SIBLING,              // nothing ran: strProgram is missing
    ROUTE_NOT_ON_THIS_SYSTEM,      // nothing ran: a 64-bit server on a 32-bit system
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
    bool bStopped = false;          // its run was ended before it finished:
    bool bTimedOut = false;         // at the time limit, else at the user's request
    RegistrationRoute nRoute = ROUTE_THIS_PROGRAM;
    CString strProgram;             // the helper process's program, or the missing sibling
    // The helper process ended before it answered (the server ended it, or
    // faulted where no guard reaches): dwExitCode is the helper's.
    bool bHostEnded = false;
    // Not run: the caller runs as the system account and others can change
    // strUntrusted, the file or a folder above it (hr E_ACCESSDENIED).
    TrustProblem nTrustProblem = TrustProblem::None;
    CString strUntrusted;
};

// How a self-registration runs.
struct RunOptions {
    // The longest wait for one server: an executable's process, or the
    // helper's answer.
    DWORD dwTimeLimitMs = 60000;
    // Hears the waits and may ask to stop them; none: no progress, no stop.
    CWorkProgress* pProgress = nullptr;
    // This process is the helper: a DLL's entry point runs here, whatever
    // its bitness. Otherwise it runs in the helper of its bitness.
    bool bInThisProcess = false;
    // The helper processes of the press, kept from one server to the next;
    // none: the call starts its own and ends them before it returns.
    CServerHosts* pHosts = nullptr;
    // The folder the sibling is looked for in; empty: this program's own.
    CString strSiblingFolder;
    // The caller runs as the system account: no server is run from a path
    // that others than administrators can change. None: the process's own
    // account decides.
    std::optional<bool> asSystem;
    // Keeps what the servers change, for undoing: begun before the first
    // server runs. None: nothing is kept.
    CChangeRecording* pRecording = nullptr;
};

// Registers (bRegister) or unregisters one server file. True only when an
// in-process server's entry point ran and returned exactly S_OK; always false
// for an executable, whose outcome the caller checks in the registry. When
// pResult is given, it receives what the call did. A file that is no module
// is never handed to a helper.
bool RegisterServerFile(const CString& strPath, bool bRegister, RegistrationResult* pResult = nullptr,
                        const RunOptions& options = RunOptions());

// True when this system starts programs built for that machine
// (IMAGE_FILE_MACHINE_*): its own, and those it emulates.
bool IsRunnableMachine(WORD wMachine);

// Starts the file hidden with the parameters, in the folder that holds it, and
// waits for its process to end, for the options' time limit at most.
void ExecuteAndWait(const CString& strPath, const CString& strParameters, RegistrationResult* pResult = nullptr,
                    const RunOptions& options = RunOptions());
