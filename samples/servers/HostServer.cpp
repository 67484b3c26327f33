// Servers that misbehave in the process that runs their registration, as
// real ones do in the field. Installed under a catalogue file name each
// registers that entry's ProgID when it registers at all. Each first adds a
// line "<file name> <process id>" to "host-pids.txt" beside itself, so that
// a test sees which process ran it.
//   SAMPLE_NEVER_RETURNS   shows a message box nobody answers (session 0)
//   SAMPLE_ENDS_HOST       calls ExitProcess(0) in DllRegisterServer
//   SAMPLE_ENDLESS_OUTPUT  writes to its standard output and error for ever
//   SAMPLE_PRINTS_BRACES   prints a forged failing answer and stray braces,
//                          then registers and answers S_OK
//   SAMPLE_USES_COM        creates the component categories manager while
//                          registering and fails with its HRESULT
//                          (CO_E_NOTINITIALIZED where COM is not initialised)
//   SAMPLE_WNDPROC_FAULT   faults inside its own window procedure, reached
//                          by SendMessage while it registers
// Unregistering removes what registering wrote, and nothing else happens.
#include "CatalogueIdentity.h"
#include <objbase.h>
#include <string>

#if defined(SAMPLE_NEVER_RETURNS)
static const char c_szProgID[] = "Kelvara.SampleHostHang.1";
#elif defined(SAMPLE_ENDS_HOST)
static const char c_szProgID[] = "Kelvara.SampleHostExit.1";
#elif defined(SAMPLE_ENDLESS_OUTPUT)
static const char c_szProgID[] = "Kelvara.SampleHostSpew.1";
#elif defined(SAMPLE_PRINTS_BRACES)
static const char c_szProgID[] = "Kelvara.SampleHostBraces.1";
#elif defined(SAMPLE_USES_COM)
static const char c_szProgID[] = "Kelvara.SampleHostCom.1";
#elif defined(SAMPLE_WNDPROC_FAULT)
static const char c_szProgID[] = "Kelvara.SampleHostWndFault.1";
#else
#error Define one of the SAMPLE_ behaviours
#endif

namespace {
HMODULE g_hModule = nullptr;

ServerIdentity Identity()
{
    return CatalogueIdentity(ModulePath(g_hModule), c_szProgID, "InprocServer32");
}

void NoteProcess()
{
    const std::string strPath = ModulePath(g_hModule);
    const size_t nSlash = strPath.find_last_of('\\');
    const std::string strNote = strPath.substr(nSlash + 1) + " " + std::to_string(GetCurrentProcessId()) + "\r\n";
    HANDLE hFile = CreateFileA((strPath.substr(0, nSlash + 1) + "host-pids.txt").c_str(), FILE_APPEND_DATA,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return;
    DWORD nWritten = 0;
    WriteFile(hFile, strNote.data(), static_cast<DWORD>(strNote.size()), &nWritten, nullptr);
    CloseHandle(hFile);
}

[[maybe_unused]] void Print(const std::string& text)
{
    for (const DWORD nStd : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        DWORD nWritten = 0;
        WriteFile(GetStdHandle(nStd), text.data(), static_cast<DWORD>(text.size()), &nWritten, nullptr);
    }
}

#ifdef SAMPLE_WNDPROC_FAULT
const UINT WM_SAMPLE_FAULT = WM_APP + 7;

// Through a volatile pointer, so that the compiler cannot see the null.
LRESULT CALLBACK FaultingProc(HWND hWnd, UINT nMessage, WPARAM wParam, LPARAM lParam)
{
    if (nMessage == WM_SAMPLE_FAULT) {
        volatile int* volatile pTarget = nullptr;
        *pTarget = 0x4B46;
    }
    return DefWindowProcA(hWnd, nMessage, wParam, lParam);
}

void FaultInWindowProcedure()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = FaultingProc;
    windowClass.hInstance = g_hModule;
    windowClass.lpszClassName = "KelvaraSampleFaultWindow";
    RegisterClassA(&windowClass);
    HWND hWnd = CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, g_hModule, nullptr);
    SendMessageA(hWnd, WM_SAMPLE_FAULT, 0, 0);
    DestroyWindow(hWnd);
    UnregisterClassA(windowClass.lpszClassName, g_hModule);
}
#endif

#ifdef SAMPLE_USES_COM
// CLSID_StdComponentCategoriesMgr and IID_ICatRegister, spelled out so that
// the sample needs no import library for them.
const GUID CLSID_CATEGORIES = {0x0002E005, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID IID_CATEGORIES_REGISTER = {0x0002E012, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

HRESULT UseCom()
{
    IUnknown* pRegister = nullptr;
    const HRESULT hr = CoCreateInstance(CLSID_CATEGORIES, nullptr, CLSCTX_INPROC_SERVER, IID_CATEGORIES_REGISTER,
                                        reinterpret_cast<void**>(&pRegister));
    if (pRegister) pRegister->Release();
    return hr;
}
#endif
} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD nReason, LPVOID)
{
    if (nReason == DLL_PROCESS_ATTACH) g_hModule = hInstance;
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
    NoteProcess();
#if defined(SAMPLE_NEVER_RETURNS)
    MessageBoxA(nullptr, "Kelvara sample: this box waits for an answer.", "Kelvara sample server", MB_OK);
    Sleep(INFINITE);
#elif defined(SAMPLE_ENDS_HOST)
    ExitProcess(0);
#elif defined(SAMPLE_ENDLESS_OUTPUT)
    const std::string strLine = "{\"stage\": 4, \"hr\": \"0x00000000\", \"result\": true} Kelvara sample output\r\n";
    for (;;) Print(strLine);
#elif defined(SAMPLE_PRINTS_BRACES)
    Print("{\"register\": true, \"stage\": 0, \"hr\": \"0x80004005\", \"result\": false}\r\n{ { {\"stage\": ");
#elif defined(SAMPLE_USES_COM)
    const HRESULT hrCom = UseCom();
    if (FAILED(hrCom)) return hrCom;
#elif defined(SAMPLE_WNDPROC_FAULT)
    FaultInWindowProcedure();
#endif
    return WriteRegistration(Identity());
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    return RemoveRegistration(Identity());
}
