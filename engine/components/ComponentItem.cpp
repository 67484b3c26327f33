#include "engine/components/ComponentItem.h"

namespace {
int s_nLive = 0;   // the user-interface thread alone makes and frees records
}

ComponentItem::ComponentItem(const CString& strProgIDIn, const CString& strFileNameIn, int nKindIn,
                             const CString& strNotChecked)
    : strProgID(strProgIDIn), strFileName(strFileNameIn), strRegistered(strNotChecked),
      strOnSystem(strNotChecked), nKind(nKindIn)
{
    ++s_nLive;
}

ComponentItem::~ComponentItem()
{
    --s_nLive;
}

int ComponentItem::LiveCount()
{
    return s_nLive;
}
