#include "projecttester/ComResult.h"
#include "projecttester/ComException.h"

void ComCheck(HRESULT hr)
{
    if (hr >= 0) return;
    CComErrorInfo info(hr);
    info.Fill();
    throw new CComException(info);
}
