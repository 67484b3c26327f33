// ForgeSupport.com: the utility's console twin, for shells and management
// tools. cmd and PowerShell find it before ForgeSupport.exe, wait for it, and
// see its standard output, standard error and exit code; it takes the same
// switches and gives the same exit codes. Typed without a switch, it opens
// the sheet of ForgeSupport.exe beside it.
#include "report/CommandLine.h"
#include "system/Paths.h"
#include "system/SystemLibrary.h"
#include <string>

namespace {
int OpenSheet()
{
    const CString strSelf = ModuleFilePath(nullptr);
    const int nSlash = strSelf.ReverseFind('\\');
    const std::wstring program = (strSelf.Left(nSlash + 1) + "ForgeSupport.exe").ToWide();
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return RunCommandLine(0, nullptr);   // no sheet to open: the usage says what to type
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return 0;
}
}

int main(int argc, char** argv)
{
    RestrictDllSearch();
    return argc > 1 ? RunCommandLine(argc, argv) : OpenSheet();
}
