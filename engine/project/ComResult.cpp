#include "engine/project/ComResult.h"
#include "engine/project/ComException.h"

void ComCheck(HRESULT hr)
{
    if (hr >= 0) return;
    CComErrorInfo info(hr);
    info.Fill();
    throw new CComException(info);
}
