#include "app/ReportVerdict.h"
#include "comtester/Diagnosis.h"
#include "comtester/Verification.h"

CString RowVerdict(const ComponentItem& item, const CImportResolver& resolver)
{
    const CString strPath = IsPresent(item) ? item.strLocation : CString();
    return ComponentVerdict(DiagnoseComponent(item.strFileName, item.strProgID, strPath, item.lastAction, resolver));
}
