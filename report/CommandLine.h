#pragma once
#include "report/ReportFormat.h"
#include <optional>
#include <vector>

// The unattended mode: switches, the report they ask for, and where it goes.

// What the switches ask for.
enum class RequestMode { Report, Check, Repair };

struct ReportRequest {
    RequestMode mode = RequestMode::Report;
    CString strTarget;                   // a file, or "-" for standard output; with /repair, optional
    std::optional<CString> folder;       // replaces the registry's System folder
    std::optional<CString> project;      // also run Test Project on it
    ReportFormat format = ReportFormat::Text;
    bool bUsage = false;                 // "/?": print the usage and end
    DWORD dwTimeoutMs = 60000;           // "/timeout <seconds>", with /repair or /activate
    // "/activate", with /check or /report: each row's class is created within
    // this limit (/timeout's, else the default); 0: no class is created.
    DWORD dwActivationLimitMs = 0;
};

// The switch name of an argument: "report" of "/Report" or "-REPORT"; empty
// when the argument is no switch ("-" alone is a value).
CString SwitchName(const CString& strArg);

// Reads the switches (case-insensitive, "/" or "-"); false with the offending
// argument in strBad when they are not a valid request.
bool ParseSwitches(const std::vector<CString>& args, ReportRequest& request, CString& strBad);

// Writes the bytes to a temporary file beside strTarget and moves it over the
// target only once complete, so an existing file is replaced by a whole one
// or left as it was. False with a reason when nothing was written.
bool WriteFileAtomically(const CString& strTarget, const std::string& bytes, CString& strReason);

// Runs the utility without a window for the switches given (argv[1...]) and
// gives the process's exit code.
int RunCommandLine(int argc, char** argv);
