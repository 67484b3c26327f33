/* Imports version.dll the ordinary way, as the utility once did: where the
   system searches the program's folder first, a planted VERSION.dll beside
   it is the one loaded. */
#include <windows.h>

int main(void)
{
    DWORD dwHandle = 0;
    GetFileVersionInfoSizeW(L"C:\\", &dwHandle);
    return 0;
}
