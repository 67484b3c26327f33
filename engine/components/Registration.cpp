#include "engine/components/Registration.h"
#include "engine/components/SelfRegistration.h"
#include "engine/components/Verification.h"
#include "res/resource.h"

void RegisterRecords(const std::vector<ComponentItem*>& records, bool bRegister, const VerificationFolders& folders,
                     CWorkProgress& progress, RunOptions options)
{
    options.pProgress = &progress;
    const CString strYes = LoadResourceString(IDS_YES);
    const CString strNo = LoadResourceString(IDS_NO);
    const int nCount = static_cast<int>(records.size());
    progress.SetProgressRange(nCount);
    ResolveLocations(records, folders, progress);
    int nDone = 0;
    bool bStopped = false;
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
    }
    progress.SetProgressPos(0);
}
