// KvLegacyRuntime.dll: a 32-bit runtime that, as on a 64-bit Windows, lives
// only in the 32-bit system folder; SampleWowDep.dll imports it.
#include <windows.h>

extern "C" __declspec(dllexport) int KvLegacyRuntimeValue()
{
    return 0;
}
