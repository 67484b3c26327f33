/* BenchLargeModule.dll: 5 MB of initialised data, 2,000 exports and imports
   from several system DLLs, for the diagnosis benchmark. */
#include <windows.h>
#include <shlobj.h>

__declspec(dllexport) const unsigned char g_benchData[5 * 1024 * 1024] = {1};

#define EXPORT1(n) __declspec(dllexport) int BenchExport##n(void) { return n + (int)g_benchData[n]; }
#define EXPORT10(n) EXPORT1(n##0) EXPORT1(n##1) EXPORT1(n##2) EXPORT1(n##3) EXPORT1(n##4) \
                    EXPORT1(n##5) EXPORT1(n##6) EXPORT1(n##7) EXPORT1(n##8) EXPORT1(n##9)
#define EXPORT100(n) EXPORT10(n##0) EXPORT10(n##1) EXPORT10(n##2) EXPORT10(n##3) EXPORT10(n##4) \
                     EXPORT10(n##5) EXPORT10(n##6) EXPORT10(n##7) EXPORT10(n##8) EXPORT10(n##9)
#define EXPORT1000(n) EXPORT100(n##0) EXPORT100(n##1) EXPORT100(n##2) EXPORT100(n##3) EXPORT100(n##4) \
                      EXPORT100(n##5) EXPORT100(n##6) EXPORT100(n##7) EXPORT100(n##8) EXPORT100(n##9)
EXPORT1000(1)
EXPORT1000(2)

__declspec(dllexport) HRESULT WINAPI BenchUseImports(void)
{
    DWORD handle = 0;
    GetFileVersionInfoSizeA("x", &handle);
    SHGetFolderPathA(NULL, 0, NULL, 0, NULL);
    DeleteObject(NULL);
    SysFreeString(NULL);
    CoTaskMemFree(NULL);
    RegCloseKey(NULL);
    return MessageBeep(0) ? S_OK : E_FAIL;
}
