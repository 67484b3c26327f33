#include "engine/components/Registration.h"
#include "engine/components/SelfRegistration.h"
#include "engine/components/Verification.h"
#include "res/resource.h"

void RegisterRecords(const std::vector<ComponentItem*>& records, bool bRegister, const VerificationFolders& folders,
                     CVerificationProgress& progress)
{
    const CString strYes = LoadResourceString(IDS_YES);
    const CString strNo = LoadResourceString(IDS_NO);
    const int nCount = static_cast<int>(records.size());
    progress.SetProgressRange(nCount);
    ResolveLocations(records, folders, progress);
    int nDone = 0;
    for (ComponentItem* pItem : records) {
        progress.SetProgressPos(++nDone);
        if (!pItem) continue;
        RegisterServerFile(pItem->strLocation, bRegister, &pItem->lastAction);
        pItem->strRegistered = IsRegistered(*pItem) ? strYes : strNo;
    }
    progress.SetProgressPos(0);
}
