/* Stands in for a planted VERSION.dll: loaded into a process, it leaves a
   marker file (its path in FORGE_PLANT_MARKER) with one line for how it was
   loaded ("loaded at start": by a program's or a DLL's import; "loaded
   later": by LoadLibrary) and one for every call of its exports, naming the
   module that called. Those answer like version.dll for a file without
   version information, so that an importer still starts. */
#include <windows.h>

static void LeaveMarker(const char* pszLine)
{
    wchar_t szMarker[MAX_PATH];
    DWORD nLength = GetEnvironmentVariableW(L"FORGE_PLANT_MARKER", szMarker, MAX_PATH);
    if (nLength == 0 || nLength >= MAX_PATH) return;
    HANDLE hFile = CreateFileW(szMarker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, NULL);
    if (hFile == INVALID_HANDLE_VALUE) return;
    DWORD nWritten = 0;
    WriteFile(hFile, pszLine, lstrlenA(pszLine), &nWritten, NULL);
    WriteFile(hFile, "\r\n", 2, &nWritten, NULL);
    CloseHandle(hFile);
}

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pReserved)
{
    (void)hInstance;
    /* The loader passes a non-null pReserved to the DLLs a process starts with. */
    if (dwReason == DLL_PROCESS_ATTACH) LeaveMarker(pReserved ? "loaded at start" : "loaded later");
    return TRUE;
}

static void LeaveCaller(void* pReturn)
{
    char szLine[MAX_PATH + 16] = "called by ";
    HMODULE hCaller = NULL;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           (LPCSTR)pReturn, &hCaller))
        GetModuleFileNameA(hCaller, szLine + 10, MAX_PATH);
    LeaveMarker(szLine);
}

/* Each export notes its caller: the return address is the caller's. */
#define NOTE_CALLER() LeaveCaller(__builtin_return_address(0))

static DWORD NoVersion(void)
{
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return 0;
}

DWORD WINAPI PlantedSizeW(LPCWSTR pszFile, LPDWORD pdwHandle)
{
    (void)pszFile;
    NOTE_CALLER();
    if (pdwHandle) *pdwHandle = 0;
    return NoVersion();
}

DWORD WINAPI PlantedSizeA(LPCSTR pszFile, LPDWORD pdwHandle)
{
    (void)pszFile;
    NOTE_CALLER();
    if (pdwHandle) *pdwHandle = 0;
    return NoVersion();
}

BOOL WINAPI PlantedInfoW(LPCWSTR pszFile, DWORD dwHandle, DWORD dwLength, LPVOID pData)
{
    (void)pszFile; (void)dwHandle; (void)dwLength; (void)pData;
    NOTE_CALLER();
    return (BOOL)NoVersion();
}

BOOL WINAPI PlantedInfoA(LPCSTR pszFile, DWORD dwHandle, DWORD dwLength, LPVOID pData)
{
    (void)pszFile; (void)dwHandle; (void)dwLength; (void)pData;
    NOTE_CALLER();
    return (BOOL)NoVersion();
}

BOOL WINAPI PlantedQueryW(LPCVOID pBlock, LPCWSTR pszSubBlock, LPVOID* ppBuffer, PUINT puLength)
{
    (void)pBlock; (void)pszSubBlock;
    NOTE_CALLER();
    if (ppBuffer) *ppBuffer = NULL;
    if (puLength) *puLength = 0;
    return FALSE;
}

BOOL WINAPI PlantedQueryA(LPCVOID pBlock, LPCSTR pszSubBlock, LPVOID* ppBuffer, PUINT puLength)
{
    (void)pBlock; (void)pszSubBlock;
    NOTE_CALLER();
    if (ppBuffer) *ppBuffer = NULL;
    if (puLength) *puLength = 0;
    return FALSE;
}
