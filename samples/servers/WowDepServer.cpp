// SampleWowDep.dll: the generic server, always built 32-bit, importing
// KvLegacyRuntime.dll, which the loader finds only in the 32-bit system folder.
#include <windows.h>

extern "C" __declspec(dllimport) int KvLegacyRuntimeValue();

namespace {
// Referenced at load, so that the import is a real one.
const int g_nRuntime = KvLegacyRuntimeValue();
} // namespace

extern "C" int SampleWowDepRuntime()
{
    return g_nRuntime;
}
