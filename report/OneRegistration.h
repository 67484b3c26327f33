#pragma once
#include "framework/CString.h"
#include <vector>

// "/register <file>" and "/unregister <file>": one server's self-registration
// run in this program, answered with one line of JSON on standard output.
// People and older siblings start it so; the file is run here whatever its
// bitness, never handed on.

// True when the switches ask for it (and nothing else).
bool IsOneRegistration(const std::vector<CString>& args);
// Runs it: exit code 0 when the server's entry point returned S_OK, 1 when
// it did not (the line says why), 74 when the line could not be written.
int RunOneRegistration(const std::vector<CString>& args);

// "/host <requests> <answers>": this process is the helper that runs the
// in-process servers of a press, one request after another (ServerHost.h).
bool IsServerHost(const std::vector<CString>& args);
int RunServerHost(const std::vector<CString>& args);
