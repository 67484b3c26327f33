#include "report/OneRegistration.h"
#include "engine/components/SelfRegistration.h"
#include "engine/components/ServerHost.h"
#include "engine/components/Sibling.h"
#include "report/CommandLine.h"
#include "report/Report.h"
#include <ole2.h>
#include <cstdlib>

namespace {
// A handle value as the utility writes it on the helper's command line.
bool ParseHandle(const CString& strValue, HANDLE& hHandle)
{
    char* pEnd = nullptr;
    const unsigned long long nValue = std::strtoull(strValue, &pEnd, 10);
    if (strValue.IsEmpty() || !pEnd || *pEnd || nValue == 0) return false;
    hHandle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(nValue));
    return true;
}
}

bool IsOneRegistration(const std::vector<CString>& args)
{
    if (args.size() != 2 || args[1].IsEmpty()) return false;
    const CString strSwitch = SwitchName(args[0]);
    return strSwitch == "register" || strSwitch == "unregister";
}

int RunOneRegistration(const std::vector<CString>& args)
{
    const bool bRegister = SwitchName(args[0]) == "register";
    // As regsvr32 does: a server may create COM objects while it registers.
    const HRESULT hrOle = OleInitialize(nullptr);
    RunOptions options;
    options.bInThisProcess = true;
    RegistrationResult result;
    const bool bResult = RegisterServerFile(args[1], bRegister, &result, options);
    if (SUCCEEDED(hrOle)) OleUninitialize();
    const std::string line = FormatRegistrationLine(result, bResult) + "\n";
    HANDLE hOut = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD nWritten = 0;
    if (!hOut || hOut == INVALID_HANDLE_VALUE ||
        !WriteFile(hOut, line.data(), static_cast<DWORD>(line.size()), &nWritten, nullptr) || nWritten != line.size())
        return REPORT_CANNOT_WRITE;
    return bResult ? 0 : 1;
}

bool IsServerHost(const std::vector<CString>& args)
{
    return args.size() == 3 && SwitchName(args[0]) == "host";
}

int RunServerHost(const std::vector<CString>& args)
{
    HANDLE hRequests = nullptr, hAnswers = nullptr;
    if (!ParseHandle(args[1], hRequests) || !ParseHandle(args[2], hAnswers)) return REPORT_BAD_SWITCHES;
    return ServeRegistrations(hRequests, hAnswers);
}
