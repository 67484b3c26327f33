/* SampleOtherBitness.dll: a self-registering server built for the other
   processor width than the utility's, so that it cannot be loaded into it.
   It registers nothing. */
#include <windows.h>

HRESULT STDAPICALLTYPE DllRegisterServer(void)
{
    return S_OK;
}

HRESULT STDAPICALLTYPE DllUnregisterServer(void)
{
    return S_OK;
}
