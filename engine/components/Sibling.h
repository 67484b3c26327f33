#pragma once
// The utility ships as two programs side by side, ForgeSupport.exe (32-bit)
// and ForgeSupport64.exe (64-bit). Each runs the in-process servers of its
// own bitness in a helper process of its own program, and hands those of the
// other bitness to a helper process of the other program (ServerHost.h).
// Started hidden as
//     <program> /register <file>     or     <program> /unregister <file>
// either runs that one file's self-registration in its own process and
// answers with one line of JSON on standard output (FormatRegistrationLine).
#include "engine/components/SelfRegistration.h"
#include <string>

// "ForgeSupport64.exe" for the 64-bit build, "ForgeSupport.exe" for the 32-bit.
CString OwnProgramFileName();
CString SiblingProgramFileName();
// The sibling's path in strFolder, or beside the running program.
CString SiblingProgramPath(const CString& strFolder = CString());
// The program whose helper processes run this bitness's servers: the
// program of this bitness beside the running one (a test program or the
// console twin runs beside it), else the running program itself.
CString HostProgramPath();

// A helper's answer: what the call did, and RegisterServerFile's result.
std::string FormatRegistrationLine(const RegistrationResult& result, bool bResult);
// Reads such a line back into result; false when it is none.
bool ParseRegistrationLine(const std::string& line, RegistrationResult& result, bool& bResult);
