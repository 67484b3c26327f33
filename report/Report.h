#pragma once
#include "framework/CString.h"
#include "engine/components/ActivationResult.h"
#include "engine/components/ComponentItem.h"
#include "engine/components/VerificationSite.h"
#include <array>
#include <memory>
#include <optional>
#include <vector>

// What the unattended report holds, gathered by the same functions the COM
// tester's and the Project tester's buttons run, and the exit code it earns.

enum ReportExitCode {
    REPORT_ALL_SOUND = 0,
    REPORT_ROW_PROBLEMS = 1,        // a file not present, or a ProgID not registered
    REPORT_PROJECT_FAILURES = 2,    // combines with 1 as 3
    REPORT_BAD_SWITCHES = 64,
    REPORT_INTERNAL_ERROR = 70,
    REPORT_CANNOT_WRITE = 74,
    REPORT_NO_RIGHTS = 77,          // /repair or /undo without the rights to write the registry: nothing changed
    REPORT_UNTRUSTED = 78,          // as the system account, from a folder others can change: nothing ran
};

struct ReportEnvironment {
    CString strUtilityVersion;
    int nUtilityBits = 0;
    int nOSBits = 0;
    CString strOSProduct;            // the system's own words: "Windows 10 Pro"
    CString strOSDisplayVersion;     // "22H2"
    CString strOSBuild;              // "19045.4291"
    bool bElevated = false;
    CString strUserLocale;
    UINT nAnsiCodePage = 0;
    CString strSystemFolder;
    CString strCommonFilesFolder;
    CString strLocalTime;            // ISO 8601 with the offset from UTC
};

// A row that is not present, or whose ProgID is not registered.
struct ReportProblem {
    CString strFileName;
    CString strProgID;
    bool bPresent = false;
    bool bRegistered = false;       // meaningful only with a ProgID
    CString strVerdict;
};

struct ReportProject {
    CString strPath;
    CString strCaption;             // the project node's text; empty without one
    int nFeatures = 0;
    std::vector<CString> errors;
};

// After /repair: the undo file of what it changed.
struct ReportUndo {
    CString strFile;
    int nKeys = 0;
    int nValues = 0;
};

struct ReportContent {
    CString strSummary;             // the six-line block, as the clipboard has it
    ReportEnvironment environment;
    std::vector<std::array<CString, 6>> rows;   // as "Copy results to clipboard" writes them
    // With /activate: what creating each row's class did, beside rows.
    bool bActivated = false;
    std::vector<ActivationResult> activations;
    std::vector<std::array<CString, 6>> rowsBefore;   // after /repair: the rows before it
    std::optional<ReportUndo> undo;                    // after /repair that changed the registry
    std::vector<ReportProblem> problems;
    std::optional<ReportProject> project;
    // The process's exit code where the run decides it otherwise (a repair
    // judges its rows as /check does): the report says what the process returns.
    std::optional<int> nExitCode;

    int ExitCode() const;
};

// Verifies registration and presence of every catalogue row in display order,
// with strSystemFolder as the tool's System folder, and, when a project is
// given, runs Test Project on it. With a time limit, each row's class is
// also created (/activate), within that limit per class.
ReportContent GatherReport(const CString& strSystemFolder, const std::optional<CString>& project,
                           DWORD dwActivationLimitMs = 0);

// Creates the class of every verified record that can be created, each
// within the limit, in the helper processes of one run.
void CreateCatalogueClasses(const std::vector<std::unique_ptr<ComponentItem>>& records, const VerificationFolders& folders,
                            DWORD dwLimitMs);

// "8.0.0.1", the time stamp, and the rest of the environment block.
ReportEnvironment GatherEnvironment(const CString& strSystemFolder, const CString& strCommonFilesFolder);
