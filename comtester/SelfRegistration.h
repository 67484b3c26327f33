#pragma once
// Running a COM server file's own self-registration: the DLL entry points
// "DllRegisterServer"/"DllUnregisterServer", or an executable's
// "/regserver"/"/unregserver" switch. Window-free, so tests call it directly.
#include "framework/CString.h"

// Registers (bRegister) or unregisters one server file. True only when an
// in-process server's entry point ran and returned exactly S_OK; always false
// for an executable, whose outcome the caller checks in the registry.
bool RegisterServerFile(const CString& strPath, bool bRegister);

// Starts the file hidden with the parameters, in the folder that holds it, and
// waits for its process to end, without a time-out.
void ExecuteAndWait(const CString& strPath, const CString& strParameters);
