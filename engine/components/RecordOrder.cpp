#include "engine/components/RecordOrder.h"

namespace {
int CompareVersion(const ComponentItem& a, const ComponentItem& b)
{
    if (a.dwVersionMS != b.dwVersionMS) return a.dwVersionMS > b.dwVersionMS ? 1 : -1;
    if (a.dwVersionLS != b.dwVersionLS) return a.dwVersionLS > b.dwVersionLS ? 1 : -1;
    return 0;
}
}

int CompareRecords(const ComponentItem& a, const ComponentItem& b, int nColumn)
{
    switch (nColumn) {
    case 0: return a.strFileName.CompareNoCase(b.strFileName);
    case 1: return a.strProgID.CompareNoCase(b.strProgID);
    case 2: return a.strRegistered.CompareNoCase(b.strRegistered);
    case 3: return a.strOnSystem.CompareNoCase(b.strOnSystem);
    case 4: return CompareVersion(a, b);
    case 5: return a.strLocation.CompareNoCase(b.strLocation);
    default: return 0;
    }
}
