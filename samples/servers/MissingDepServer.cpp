// SampleMissingDep.dll: imports from ForgeAbsentHelper.dll, which is never
// placed beside it, so that a full load fails while a mapping without
// resolving imports succeeds.
#include <windows.h>

extern "C" __declspec(dllimport) int WINAPI ForgeAbsentHelperValue();

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
    return ForgeAbsentHelperValue() == 0 ? S_OK : E_FAIL;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    return ForgeAbsentHelperValue() == 0 ? S_OK : E_FAIL;
}
