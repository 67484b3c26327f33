#pragma once
#include "framework/CString.h"
#include <vector>

// "/register <file>" and "/unregister <file>": one server's self-registration
// run in this program, answered with one line of JSON on standard output.
// The program of the other bitness starts this one so for a server it cannot
// load itself; the file is run here whatever its bitness, never handed on.

// True when the switches ask for it (and nothing else).
bool IsOneRegistration(const std::vector<CString>& args);
// Runs it: exit code 0 when the server's entry point returned S_OK, 1 when
// it did not (the line says why), 74 when the line could not be written.
int RunOneRegistration(const std::vector<CString>& args);
