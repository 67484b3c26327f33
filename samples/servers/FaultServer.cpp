// SampleFaultEntry.dll and SampleFaultMain.dll: servers that crash with an
// access violation, in their entry points (SAMPLE_FAULT_ENTRY) or in DllMain
// on process attach (SAMPLE_FAULT_MAIN). They register nothing.
#include <windows.h>

// Through a volatile pointer, so that the compiler cannot see the null and
// replace the write by a trap instruction: the fault is a real access violation.
static void WriteThroughNull()
{
    volatile int* volatile pTarget = nullptr;
    *pTarget = 0x4B46;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD nReason, LPVOID)
{
#ifdef SAMPLE_FAULT_MAIN
    if (nReason == DLL_PROCESS_ATTACH) WriteThroughNull();
#else
    (void)nReason;
#endif
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
#ifdef SAMPLE_FAULT_ENTRY
    WriteThroughNull();
#endif
    return S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
#ifdef SAMPLE_FAULT_ENTRY
    WriteThroughNull();
#endif
    return S_OK;
}
