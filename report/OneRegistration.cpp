#include "report/OneRegistration.h"
#include "engine/components/SelfRegistration.h"
#include "engine/components/Sibling.h"
#include "report/CommandLine.h"
#include "report/Report.h"

bool IsOneRegistration(const std::vector<CString>& args)
{
    if (args.size() != 2 || args[1].IsEmpty()) return false;
    const CString strSwitch = SwitchName(args[0]);
    return strSwitch == "register" || strSwitch == "unregister";
}

int RunOneRegistration(const std::vector<CString>& args)
{
    const bool bRegister = SwitchName(args[0]) == "register";
    RunOptions options;
    options.bThroughSibling = false;
    RegistrationResult result;
    const bool bResult = RegisterServerFile(args[1], bRegister, &result, options);
    const std::string line = FormatRegistrationLine(result, bResult) + "\n";
    HANDLE hOut = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD nWritten = 0;
    if (!hOut || hOut == INVALID_HANDLE_VALUE ||
        !WriteFile(hOut, line.data(), static_cast<DWORD>(line.size()), &nWritten, nullptr) || nWritten != line.size())
        return REPORT_CANNOT_WRITE;
    return bResult ? 0 : 1;
}
