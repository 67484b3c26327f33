#pragma once
// The utility ships as two programs side by side, ForgeSupport.exe (32-bit)
// and ForgeSupport64.exe (64-bit). Each hands an in-process server of the
// other bitness to the other, started hidden as
//     <sibling> /register <file>     or     <sibling> /unregister <file>
// which runs that one file's self-registration in its own process and
// answers with one line of JSON on standard output (FormatRegistrationLine).
#include "engine/components/SelfRegistration.h"
#include <string>

// "ForgeSupport64.exe" for the 64-bit build, "ForgeSupport.exe" for the 32-bit.
CString OwnProgramFileName();
CString SiblingProgramFileName();
// The sibling's path in strFolder, or beside the running program.
CString SiblingProgramPath(const CString& strFolder = CString());

// The sibling's answer: what the call did, and RegisterServerFile's result.
std::string FormatRegistrationLine(const RegistrationResult& result, bool bResult);
// Reads such a line back into result; false when it is none.
bool ParseRegistrationLine(const std::string& line, RegistrationResult& result, bool& bResult);

// Runs the sibling on one file, hidden and within the options' time limit,
// and fills result as if this program had run it, with the route and the
// sibling's path. True as RegisterServerFile is.
bool RegisterThroughSibling(const CString& strPath, bool bRegister, const CString& strSibling,
                            const RunOptions& options, RegistrationResult& result);
