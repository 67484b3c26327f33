#include "app/ReportVerdict.h"
#include "comtester/Verification.h"
#include "res/resource.h"

CString RowVerdict(const ComponentItem& item)
{
    CString strVerdict;
    if (!IsPresent(item)) strVerdict = LoadResourceString(IDS_REPORT_NOT_PRESENT);
    if (!item.strProgID.IsEmpty() && item.strRegistered != LoadResourceString(IDS_YES)) {
        if (!strVerdict.IsEmpty()) strVerdict += ", ";
        strVerdict += LoadResourceString(IDS_REPORT_NOT_REGISTERED);
    }
    return strVerdict;
}
