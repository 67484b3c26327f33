// ForgeAbsentHelper.dll: built only for its import library; the DLL itself
// stays out of the folder of the servers and tests.
#include <windows.h>

extern "C" __declspec(dllexport) int WINAPI ForgeAbsentHelperValue()
{
    return 0;
}
