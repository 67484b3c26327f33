#pragma once
// The words of a diagnosis, all from the string table: shared by the
// verdicts and by the text of the details.
#include "framework/CString.h"

struct PeFileInfo;

// A string-table format filled with the arguments (printf rules).
CString FormatId(UINT nID, ...);
// "x64 (64-bit)", "x86 (32-bit)", "ARM64", ... or "not a Windows module".
CString MachineName(const PeFileInfo& file);
// "access violation", "stack overflow", ... for an exception code.
CString FaultName(DWORD dwCode);
// "64-bit" or "32-bit": the registry view of that bitness.
CString RegistryViewName(int nViewBits);
// An exit code as people read it: decimal, or hexadecimal for the large
// ones that are exception codes and HRESULTs ("0xC0000005").
CString ExitCodeText(DWORD dwExitCode);
