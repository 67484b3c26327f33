#include "ui/SupportApp.h"
#include "report/CommandLine.h"
#include "system/SystemLibrary.h"
#include <cstdlib>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    RestrictDllSearch();
    // With switches the utility runs unattended and shows no window.
    if (__argc > 1) return RunCommandLine(__argc, __argv);
    return theApp.Run();
}
