#pragma once
// Why a catalogue row is or is not sound: its file as read from disk, the
// DLLs it imports, its class registration in both registry views, and the
// last register or unregister of it in this run, summed up in a verdict.
// Plain functions over files and the registry: the COM tester's details, its
// infotips and a command-line report reach the same answers.
#include "engine/diagnosis/ClassRegistration.h"
#include "engine/components/ComponentItem.h"
#include "engine/diagnosis/ImportResolver.h"
#include "engine/diagnosis/PeFile.h"
#include "engine/components/SelfRegistration.h"

struct ComponentDiagnosis {
    CString strFileName;
    CString strProgID;
    CString strPath;              // as the row resolves it; empty when not found
    bool bPresent = false;
    bool bExecutable = false;     // registered through its switches, out of process
    PeFileInfo file;
    std::vector<ImportStatus> imports;
    ClassRegistration registration;
    RegistrationResult lastAction;
    ActivationResult activation;  // creating its class in this run, when tried
    bool bElevated = false;       // the utility runs with administrator rights
    bool bViewFromFile = false;   // the registry view read is the file's own, else this program's
    CString strSibling;           // the program beside this one that runs the other bitness
    bool bSiblingPresent = false;
};

ComponentDiagnosis DiagnoseComponent(const CString& strFileName, const CString& strProgID, const CString& strPath,
                                     const RegistrationResult& lastAction, const CImportResolver& resolver);

// True when running the file's registration would mend the row: the file is
// there and can register itself (a module of a bitness this program or its
// sibling runs, its DLLs found, its entry point exported), and its ProgID is
// not registered, or registered to another copy or in the other view only.
bool CanRegisteringMend(const ComponentDiagnosis& diagnosis);
// One line a user can act on, chosen in a fixed order of causes.
CString ComponentVerdict(const ComponentDiagnosis& diagnosis);
// The whole diagnosis as plain text, one fact a line (CR LF).
CString FormatComponentDiagnosis(const ComponentDiagnosis& diagnosis);

// The path a catalogue row resolves to by its kind, as "Verify Files Exist"
// finds it, given the tool's System folder and the Common Files folder.
CString ResolveCatalogueLocation(const CString& strFileName, int nKind, const CString& strSystemFolder,
                                 const CString& strCommonFilesFolder);
// The verdict for a record that has been looked for: its strLocation, its
// last action in this run.
CString RecordVerdict(const ComponentItem& item, const CImportResolver& resolver);
// The verdict for a catalogue row with no action on it in this run.
CString CatalogueRowVerdict(const CString& strFileName, const CString& strProgID, int nKind,
                            const CString& strSystemFolder, const CString& strCommonFilesFolder);
// The verdicts of every catalogue row, in catalogue order, the same as
// CatalogueRowVerdict gives, with one walk of each folder tree for all rows.
std::vector<CString> CatalogueVerdicts(const CString& strSystemFolder, const CString& strCommonFilesFolder);
// The system's text for an HRESULT or error code, "Unknown error" when it has none.
CString SystemErrorText(HRESULT hr);
