#include "engine/components/Registration.h"
#include "engine/components/SelfRegistration.h"
#include "engine/components/ServerHost.h"
#include "engine/components/Verification.h"
#include "engine/undo/UndoJournal.h"
#include "res/resource.h"
#include <algorithm>

void RegisterRecords(const std::vector<ComponentItem*>& records, bool bRegister, const VerificationFolders& folders,
                     CWorkProgress& progress, RunOptions options)
{
    options.pProgress = &progress;
    // One helper process per bitness for the whole press, ended with it.
    CServerHosts pressHosts;
    if (!options.pHosts) options.pHosts = &pressHosts;
    const CString strYes = LoadResourceString(IDS_YES);
    const CString strNo = LoadResourceString(IDS_NO);
    const int nCount = static_cast<int>(records.size());
    progress.SetProgressRange(nCount);
    ResolveLocations(records, folders, progress);
    // The registry is kept for undoing before the first server runs; when it
    // cannot be, none runs.
    const bool bAnyToRun = std::any_of(records.begin(), records.end(),
                                       [](const ComponentItem* pItem) { return pItem && !pItem->bNotReached; });
    bool bStopped = options.pRecording && bAnyToRun && !progress.IsStopRequested() && !options.pRecording->Begin(&progress);
    int nDone = 0;
    for (ComponentItem* pItem : records) {
        progress.SetProgressPos(++nDone);
        if (!pItem) continue;
        // A stop during the walk, or between servers, ends the press: the
        // rows not reached keep what they had.
        bStopped = bStopped || pItem->bNotReached || progress.IsStopRequested();
        if (bStopped) {
            pItem->bNotReached = true;
            continue;
        }
        RegisterServerFile(pItem->strLocation, bRegister, &pItem->lastAction, options);
        const RegistrationResult& action = pItem->lastAction;
        // A server ended before it finished has not registered, whatever it
        // wrote so far; the stop that ended it is spent, and the press goes
        // on with the next row.
        pItem->strRegistered = (action.bStopped && bRegister) || !IsRegistered(*pItem) ? strNo : strYes;
        if (action.bStopped && !action.bTimedOut) progress.ResetStop();
        // What ran so far is kept for undoing before the next server runs.
        if (options.pRecording && nDone < nCount) options.pRecording->Checkpoint();
    }
    if (options.pRecording) options.pRecording->End();
    progress.SetProgressPos(0);
}
