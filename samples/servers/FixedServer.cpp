// SampleSFalse.dll, SampleRefuse.dll and SampleNoUnreg.dll: servers with a
// fixed ProgID that misbehave in one chosen way.
//   SAMPLE_SFALSE    registers and unregisters, but reports S_FALSE
//   SAMPLE_REFUSE    registers; refuses to unregister (E_FAIL, nothing removed)
//   SAMPLE_NOUNREG   exports no DllUnregisterServer; DllMain leaves the marker
//                    file "<own path>.loaded" to show that it ran
//   SAMPLE_DENIED    answers E_ACCESSDENIED, as a server does that may not
//                    write under HKEY_LOCAL_MACHINE; writes nothing
#include "ServerRegistration.h"

#if defined(SAMPLE_SFALSE)
static const char c_szProgID[] = "Kelvara.SampleSFalse.1";
#elif defined(SAMPLE_REFUSE)
static const char c_szProgID[] = "Kelvara.SampleRefuse.1";
#elif defined(SAMPLE_NOUNREG)
static const char c_szProgID[] = "Kelvara.SampleNoUnreg.1";
#elif defined(SAMPLE_DENIED)
static const char c_szProgID[] = "Kelvara.SampleDenied.1";
#else
#error Define one of SAMPLE_SFALSE, SAMPLE_REFUSE, SAMPLE_NOUNREG, SAMPLE_DENIED
#endif

static HMODULE g_hModule = nullptr;

static ServerIdentity Identity()
{
    return FixedIdentity(ModulePath(g_hModule), c_szProgID, "InprocServer32");
}

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD nReason, LPVOID)
{
    if (nReason != DLL_PROCESS_ATTACH) return TRUE;
    g_hModule = hInstance;
#ifdef SAMPLE_NOUNREG
    const std::string strMarker = ModulePath(hInstance) + ".loaded";
    HANDLE hFile = CreateFileA(strMarker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile != INVALID_HANDLE_VALUE) CloseHandle(hFile);
#endif
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
#ifdef SAMPLE_DENIED
    return E_ACCESSDENIED;
#endif
    const HRESULT hr = WriteRegistration(Identity());
#ifdef SAMPLE_SFALSE
    if (hr == S_OK) return S_FALSE;
#endif
    return hr;
}

#ifndef SAMPLE_NOUNREG
extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
#if defined(SAMPLE_REFUSE)
    return E_FAIL;
#elif defined(SAMPLE_DENIED)
    return E_ACCESSDENIED;
#else
    const HRESULT hr = RemoveRegistration(Identity());
    return hr == S_OK ? S_FALSE : hr;
#endif
}
#endif
