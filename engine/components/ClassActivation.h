#pragma once
// Does a row's class create, not only is it registered? Creating a class
// runs the server's code, so it never happens in the utility: the helper
// process of the server's bitness (ServerHost.h) is asked
//     create<TAB><ProgID><TAB><local 0|1><TAB><sta|mta><TAB><dispatch 0|1><TAB><server path>
// and creates it on a thread of its own, in the apartment a client of the
// class would use, one stage after another, each under the fault guard. It
// answers "stage <n>" as each stage begins, so that a helper ended at the
// time limit still tells where it was, and last
//     created <stage> 0x<hr> <ms> 0x<fault> <module>
#include "engine/components/ActivationResult.h"
#include "engine/components/ComponentItem.h"
#include "engine/components/VerificationSite.h"
#include "engine/components/WorkProgress.h"
#include <string>
#include <vector>

class CServerHosts;
struct ComponentDiagnosis;

// The longest a class is given, shorter than COM's own wait for a local
// server that never registers its class object (Wine's 30 s, Windows' 120 s),
// so that the verdict names the time limit.
constexpr DWORD ACTIVATION_TIME_LIMIT_MS = 20000;

struct ActivationOptions {
    DWORD dwTimeLimitMs = ACTIVATION_TIME_LIMIT_MS;
    // Hears the waits and may ask to stop them; none: no progress, no stop.
    CWorkProgress* pProgress = nullptr;
    // The helper processes, kept from one class to the next; none: the call
    // starts its own and ends them before it returns.
    CServerHosts* pHosts = nullptr;
};

// True when the row is one whose class is created: registered and present,
// in-process or local, with nothing else wrong.
bool CanCreateClass(const ComponentDiagnosis& diagnosis);
// Creates the row's class in the helper of its bitness and releases it; a
// local server that COM started for it is ended afterwards. Not tried (bTried
// false) for a row CanCreateClass refuses.
ActivationResult CreateRowClass(const ComponentDiagnosis& diagnosis, const ActivationOptions& options = ActivationOptions());

// Every record in the order given (null records skipped): locations looked
// for first, with one walk per tree, then each record's class created when
// it can be, kept in lastActivation (cleared for the rest). Progress: the
// range 0..n, positions 1..n and back to 0; a stop ends the run with the
// record it stopped, the rest keep what they had. One helper start per
// bitness, replaced when a class takes it down.
void CreateRecordClasses(const std::vector<ComponentItem*>& records, const VerificationFolders& folders,
                         CWorkProgress& progress, ActivationOptions options = ActivationOptions());

// The verdict of a row that is registered and present but whose class does
// not create; empty when creating was not tried or succeeded.
CString ActivationVerdict(const ActivationResult& result);
// The details' section on creating the class, lines ending in CR LF.
CString FormatActivationDetails(const ActivationResult& result);
// One line for the infotip when creating was tried; empty when it was not.
CString ActivationInfoTipLine(const ActivationResult& result);
// "progId", "load", "classObject", "createInstance", "dispatch", "created":
// the stage as the report's JSON names it.
const char* ActivationStageKey(ActivationStage nStage);

// The helper's side: true for a "create" request line.
bool IsActivationRequest(const std::string& strLine);
// Serves one such request, writing its stage notes and answer to hAnswers;
// false when the answers' pipe is gone.
bool ServeActivation(const std::string& strLine, HANDLE hAnswers);
