#include "comtester/Diagnosis.h"
#include "comtester/Catalogue.h"
#include "comtester/FileSearch.h"
#include "app/SystemServices.h"
#include "framework/CHandle.h"
#include "res/resource.h"
#include <cstdarg>
#include <cstdio>

namespace {

// TYPE_E_REGISTRYACCESS: a type library's registration could not write.
constexpr HRESULT HR_REGISTRY_ACCESS = static_cast<HRESULT>(0x8002801C);

// A string-table format filled with the arguments.
CString FormatId(UINT nID, ...)
{
    const CString strFormat = LoadResourceString(nID);
    va_list args;
    va_start(args, nID);
    va_list copy;
    va_copy(copy, args);
    const int nLength = vsnprintf(nullptr, 0, strFormat, copy);
    va_end(copy);
    std::string strText(nLength > 0 ? static_cast<size_t>(nLength) + 1 : 1, '\0');
    if (nLength > 0) vsnprintf(strText.data(), strText.size(), strFormat, args);
    va_end(args);
    strText.resize(nLength > 0 ? static_cast<size_t>(nLength) : 0);
    return CString(strText);
}

bool IsElevated()
{
    HANDLE hToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken)) return false;
    const CHandle token(hToken);
    TOKEN_ELEVATION elevation = {};
    DWORD nBytes = 0;
    return GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &nBytes) &&
           elevation.TokenIsElevated != 0;
}

bool IsExecutableName(const CString& strFileName)
{
    return strFileName.GetLength() >= 4 && strFileName.Right(4).CompareNoCase(".exe") == 0;
}

WORD OwnMachine()
{
    return sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;
}

CString MachineName(const PeFileInfo& file)
{
    if (!file.bModule) return LoadResourceString(IDS_MACHINE_NONE);
    switch (file.wMachine) {
    case IMAGE_FILE_MACHINE_I386:  return LoadResourceString(IDS_MACHINE_X86);
    case IMAGE_FILE_MACHINE_AMD64: return LoadResourceString(IDS_MACHINE_X64);
    case 0xAA64:                   return LoadResourceString(IDS_MACHINE_ARM64);
    default:                       return FormatId(IDS_MACHINE_OTHER, file.wMachine);
    }
}

CString FaultName(DWORD dwCode)
{
    switch (dwCode) {
    case EXCEPTION_ACCESS_VIOLATION:      return LoadResourceString(IDS_FAULT_ACCESS_VIOLATION);
    case EXCEPTION_STACK_OVERFLOW:        return LoadResourceString(IDS_FAULT_STACK_OVERFLOW);
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:      return LoadResourceString(IDS_FAULT_ILLEGAL_INSTRUCTION);
    case EXCEPTION_INT_DIVIDE_BY_ZERO:    return LoadResourceString(IDS_FAULT_DIVIDE_BY_ZERO);
    case EXCEPTION_IN_PAGE_ERROR:         return LoadResourceString(IDS_FAULT_IN_PAGE);
    case 0xE06D7363: case 0xE0474343:     return LoadResourceString(IDS_FAULT_CPP);
    default:                              return LoadResourceString(IDS_FAULT_OTHER);
    }
}

CString MissingImports(const ComponentDiagnosis& d)
{
    CString strMissing;
    for (const ImportStatus& import : d.imports) {
        if (!import.IsMissing()) continue;
        if (!strMissing.IsEmpty()) strMissing += ", ";
        strMissing += import.strName.c_str();
    }
    return strMissing;
}

CString ViewName(bool bThisView)
{
    const bool bSixtyFour = (sizeof(void*) == 8) == bThisView;
    return LoadResourceString(bSixtyFour ? IDS_VIEW_64 : IDS_VIEW_32);
}

// What the file itself decides, before anything that was done to it.
CString FileVerdict(const ComponentDiagnosis& d)
{
    if (!d.bPresent || d.file.bFolder) return LoadResourceString(IDS_VERDICT_ABSENT);
    if (d.file.dwReadError) return FormatId(IDS_VERDICT_UNREADABLE, SystemErrorText(HRESULT_FROM_WIN32(d.file.dwReadError)).GetString());
    if (!d.file.bModule) return LoadResourceString(IDS_VERDICT_NOT_MODULE);
    const HRESULT hr = d.lastAction.hr;
    if (d.lastAction.bDone && (hr == E_ACCESSDENIED || hr == HR_REGISTRY_ACCESS) && !d.bElevated)
        return LoadResourceString(IDS_VERDICT_NEEDS_ADMIN);
    // An executable server runs in its own process, whatever its bitness.
    if (!d.bExecutable && d.file.wMachine != OwnMachine()) {
        if (d.file.wMachine == IMAGE_FILE_MACHINE_AMD64) return LoadResourceString(IDS_VERDICT_NEEDS_64);
        if (d.file.wMachine == IMAGE_FILE_MACHINE_I386) return LoadResourceString(IDS_VERDICT_NEEDS_32);
        return FormatId(IDS_VERDICT_OTHER_CPU, MachineName(d.file).GetString());
    }
    const CString strMissing = MissingImports(d);
    if (!strMissing.IsEmpty()) return FormatId(IDS_VERDICT_MISSING_DEP, strMissing.GetString());
    if (!d.bExecutable && !d.file.Exports("DllRegisterServer")) return LoadResourceString(IDS_VERDICT_NOT_SELF_REG);
    return CString();
}

// What the last register or unregister in this run says went wrong.
CString ActionVerdict(const ComponentDiagnosis& d)
{
    const RegistrationResult& action = d.lastAction;
    if (!action.bDone) return CString();
    const HRESULT hr = action.hr;
    const char* pszEntry = action.bRegister ? "DllRegisterServer" : "DllUnregisterServer";
    // The loader catches a fault in DllMain itself and fails the load with ERROR_NOACCESS.
    if ((action.dwFaultCode && action.nStage < STAGE_LOADED) ||
        (action.nStage == STAGE_ENTRY_FOUND && hr == HRESULT_FROM_WIN32(ERROR_NOACCESS)))
        return LoadResourceString(IDS_VERDICT_CRASHED_STARTUP);
    if (action.dwFaultCode) return FormatId(IDS_VERDICT_CRASHED_IN, pszEntry);
    if (!d.bExecutable && !action.bRegister && action.nStage == STAGE_MAPPED)
        return LoadResourceString(IDS_VERDICT_NO_UNREGISTER);
    if (action.nStage == STAGE_ENTRY_RETURNED && FAILED(hr))
        return FormatId(IDS_VERDICT_ENTRY_FAILED, static_cast<unsigned long>(hr), SystemErrorText(hr).GetString());
    if (action.nStage == STAGE_ENTRY_FOUND && FAILED(hr))
        return FormatId(IDS_VERDICT_LOAD_FAILED, static_cast<unsigned long>(hr), SystemErrorText(hr).GetString());
    if (action.nStage == STAGE_ENDED && action.dwExitCode != 0) return FormatId(IDS_VERDICT_EXIT_CODE, action.dwExitCode);
    if (d.bExecutable && action.nStage == STAGE_NONE && FAILED(hr))
        return FormatId(IDS_VERDICT_START_FAILED, static_cast<unsigned long>(hr), SystemErrorText(hr).GetString());
    return CString();
}

CString RegistrationVerdict(const ComponentDiagnosis& d)
{
    const ClassRegistration& reg = d.registration;
    if (d.strProgID.IsEmpty()) return LoadResourceString(IDS_VERDICT_NO_PROGID);
    if (reg.strClsid.IsEmpty()) return LoadResourceString(IDS_VERDICT_NOT_REGISTERED);
    if (reg.bUserOverrides && IsSameFile(reg.machineView.strServerPath, d.strPath) &&
        !IsSameFile(reg.thisView.strServerPath, d.strPath))
        return FormatId(IDS_VERDICT_USER_OVERRIDE, (reg.thisView.strServerPath.IsEmpty() ? reg.strUserClsid
                                                                                         : reg.thisView.strServerPath).GetString());
    if (reg.thisView.strServerKey.IsEmpty()) {
        if (!reg.otherView.strServerKey.IsEmpty()) return FormatId(IDS_VERDICT_OTHER_VIEW_ONLY, ViewName(false).GetString());
        return FormatId(IDS_VERDICT_CLASS_MISSING, reg.strClsid.GetString());
    }
    if (!IsSameFile(reg.thisView.strServerPath, d.strPath))
        return FormatId(IDS_VERDICT_OTHER_COPY, reg.thisView.strServerValue.GetString());
    return LoadResourceString(IDS_VERDICT_SOUND);
}

} // namespace

CString SystemErrorText(HRESULT hr)
{
    char* pszText = nullptr;
    const DWORD nLength = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                         nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<LPSTR>(&pszText), 0, nullptr);
    std::string strText = nLength && pszText ? std::string(pszText, nLength) : std::string();
    if (pszText) LocalFree(pszText);
    while (!strText.empty() && (strText.back() == '\r' || strText.back() == '\n' || strText.back() == ' ')) strText.pop_back();
    return strText.empty() ? LoadResourceString(IDS_UNKNOWN_ERROR) : CString(strText);
}

ComponentDiagnosis DiagnoseComponent(const CString& strFileName, const CString& strProgID, const CString& strPath,
                                     const RegistrationResult& lastAction, const CImportResolver& resolver)
{
    ComponentDiagnosis d;
    d.strFileName = strFileName;
    d.strProgID = strProgID;
    d.strPath = strPath;
    d.bExecutable = IsExecutableName(strFileName);
    d.lastAction = lastAction;
    d.bElevated = IsElevated();
    const DWORD dwAttributes = strPath.IsEmpty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(strPath);
    d.bPresent = dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
    if (d.bPresent) {
        d.file = ReadPeFile(strPath);
        if (d.file.bModule) d.imports = resolver.Resolve(strPath, d.file.imports);
    }
    d.registration = ReadClassRegistration(strProgID, d.bExecutable);
    return d;
}

CString ComponentVerdict(const ComponentDiagnosis& d)
{
    CString strVerdict = FileVerdict(d);
    if (strVerdict.IsEmpty()) strVerdict = ActionVerdict(d);
    if (strVerdict.IsEmpty()) strVerdict = RegistrationVerdict(d);
    return strVerdict;
}

namespace {

// A tree search answered by one walk of the tree when the caller made one.
CString FindInTree(const CFolderSearch* pSearch, const CString& strFolder, const CString& strFileName)
{
    return pSearch ? pSearch->PathOf(strFileName) : FindFileInTree(strFolder, strFileName);
}

CString ResolveLocation(const CString& strFileName, int nKind, const CString& strSystemFolder,
                        const CString& strCommonFilesFolder, const CFolderSearch* pToolSearch,
                        const CFolderSearch* pCommonSearch)
{
    switch (nKind) {
    case KIND_TOOL_SYSTEM:
        return FindInTree(pToolSearch, strSystemFolder, strFileName);
    case KIND_WINDOWS_SYSTEM: {
        char szFolder[MAX_PATH] = "";
        const UINT nLength = GetSystemDirectoryA(szFolder, MAX_PATH);
        return MakeFilePath(nLength > 0 && nLength < MAX_PATH ? CString(szFolder) : CString(), strFileName);
    }
    case KIND_COMMON_FILES: {
        const CString strFound = FindInTree(pCommonSearch, strCommonFilesFolder, strFileName);
        return strFound.IsEmpty() ? MakeFilePath(strSystemFolder, strFileName) : strFound;
    }
    default:
        return CString();
    }
}

} // namespace

CString ResolveCatalogueLocation(const CString& strFileName, int nKind, const CString& strSystemFolder,
                                 const CString& strCommonFilesFolder)
{
    return ResolveLocation(strFileName, nKind, strSystemFolder, strCommonFilesFolder, nullptr, nullptr);
}

std::vector<CString> CatalogueVerdicts(const CString& strSystemFolder, const CString& strCommonFilesFolder)
{
    std::vector<CString> toolNames, commonNames;
    for (int i = 0; i < g_nCatalogueEntries; ++i)
        (g_catalogue[i].nKind == KIND_COMMON_FILES ? commonNames : toolNames).push_back(g_catalogue[i].pszFileName);
    const CFolderSearch toolSearch(strSystemFolder, toolNames);
    const CFolderSearch commonSearch(strCommonFilesFolder, commonNames);
    const CImportResolver resolver;
    std::vector<CString> verdicts;
    for (int i = 0; i < g_nCatalogueEntries; ++i) {
        const CatalogueEntry& entry = g_catalogue[i];
        const CString strPath = ResolveLocation(entry.pszFileName, entry.nKind, strSystemFolder, strCommonFilesFolder,
                                                &toolSearch, &commonSearch);
        verdicts.push_back(ComponentVerdict(DiagnoseComponent(entry.pszFileName, entry.pszProgID, strPath,
                                                              RegistrationResult(), resolver)));
    }
    return verdicts;
}

CString CatalogueRowVerdict(const CString& strFileName, const CString& strProgID, int nKind,
                            const CString& strSystemFolder, const CString& strCommonFilesFolder)
{
    const CImportResolver resolver;
    const CString strPath = ResolveCatalogueLocation(strFileName, nKind, strSystemFolder, strCommonFilesFolder);
    return ComponentVerdict(DiagnoseComponent(strFileName, strProgID, strPath, RegistrationResult(), resolver));
}

namespace {

void AddLine(CString& strText, const CString& strLine)
{
    strText += strLine;
    strText += "\r\n";
}

void AddFile(CString& t, const ComponentDiagnosis& d)
{
    AddLine(t, LoadResourceString(IDS_DIAG_FILE));
    AddLine(t, FormatId(IDS_DIAG_PATH, d.strPath.IsEmpty() ? LoadResourceString(IDS_WORD_NONE).GetString() : d.strPath.GetString()));
    AddLine(t, FormatId(IDS_DIAG_PRESENT, LoadResourceString(d.bPresent ? IDS_WORD_YES : IDS_WORD_NO).GetString()));
    if (!d.bPresent) return;
    if (d.file.dwReadError) {
        AddLine(t, FormatId(IDS_DIAG_NOT_READ, SystemErrorText(HRESULT_FROM_WIN32(d.file.dwReadError)).GetString()));
        return;
    }
    AddLine(t, FormatId(IDS_DIAG_VERSION, d.file.bHasVersion ? FormatFileVersion(d.file.dwVersionMS, d.file.dwVersionLS).GetString()
                                                               : LoadResourceString(IDS_WORD_NONE).GetString()));
    AddLine(t, FormatId(IDS_DIAG_MACHINE, MachineName(d.file).GetString()));
    if (!d.file.bModule) return;
    for (const char* pszEntry : {"DllRegisterServer", "DllUnregisterServer"})
        AddLine(t, FormatId(IDS_DIAG_EXPORT, pszEntry, LoadResourceString(d.file.Exports(pszEntry) ? IDS_WORD_EXPORTED : IDS_WORD_NOT_EXPORTED).GetString()));
    AddLine(t, FormatId(IDS_DIAG_OLESELFREGISTER, LoadResourceString(d.file.bOleSelfRegister ? IDS_WORD_YES : IDS_WORD_NO).GetString()));
    if (d.file.bExportsDamaged) AddLine(t, FormatId(IDS_DIAG_TABLE_DAMAGED, "export"));
    if (d.file.bImportsDamaged) AddLine(t, FormatId(IDS_DIAG_TABLE_DAMAGED, "import"));
}

void AddImports(CString& t, const ComponentDiagnosis& d)
{
    AddLine(t, FormatId(IDS_DIAG_IMPORTS, static_cast<int>(d.imports.size())));
    for (const ImportStatus& import : d.imports) {
        const char* pszName = import.strName.c_str();
        if (!import.strFoundAt.IsEmpty()) AddLine(t, FormatId(IDS_DIAG_IMPORT_FOUND, pszName, import.strFoundAt.GetString()));
        else if (import.bApiSet || import.bKnownDll) AddLine(t, FormatId(IDS_DIAG_IMPORT_SYSTEM, pszName));
        else AddLine(t, FormatId(IDS_DIAG_IMPORT_MISSING, pszName));
    }
}

void AddView(CString& t, const ComponentDiagnosis& d, const ClassServerView& view, bool bThisView)
{
    const CString strView = ViewName(bThisView);
    if (!view.bClassKey) AddLine(t, FormatId(IDS_DIAG_VIEW_NO_CLASS, strView.GetString()));
    else if (view.strServerKey.IsEmpty()) AddLine(t, FormatId(IDS_DIAG_VIEW_NONE, strView.GetString()));
    else
        AddLine(t, FormatId(IDS_DIAG_VIEW_SERVER, strView.GetString(), view.strServerKey.GetString(), view.strServerValue.GetString(),
                            view.strThreadingModel.IsEmpty() ? LoadResourceString(IDS_WORD_NONE).GetString() : view.strThreadingModel.GetString(),
                            LoadResourceString(IsSameFile(view.strServerPath, d.strPath) ? IDS_DIAG_THIS_FILE : IDS_DIAG_OTHER_COPY).GetString()));
}

void AddRegistration(CString& t, const ComponentDiagnosis& d)
{
    const ClassRegistration& reg = d.registration;
    AddLine(t, LoadResourceString(IDS_DIAG_REGISTRATION));
    AddLine(t, FormatId(IDS_DIAG_PROGID, d.strProgID.IsEmpty() ? LoadResourceString(IDS_WORD_NONE).GetString() : d.strProgID.GetString()));
    if (d.strProgID.IsEmpty()) return;
    if (reg.strClsid.IsEmpty()) {
        AddLine(t, FormatId(IDS_DIAG_CLSID, LoadResourceString(IDS_WORD_NONE).GetString(), "HKEY_CLASSES_ROOT"));
        return;
    }
    if (reg.bUserOverrides)
        AddLine(t, FormatId(IDS_DIAG_CLSID_OVERRIDE, reg.strClsid.GetString(), reg.strMachineClsid.GetString()));
    else
        AddLine(t, FormatId(IDS_DIAG_CLSID, reg.strClsid.GetString(), reg.strUserClsid.IsEmpty() ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER"));
    AddView(t, d, reg.thisView, true);
    if (reg.bOtherViewExists) AddView(t, d, reg.otherView, false);
    else AddLine(t, LoadResourceString(IDS_DIAG_NO_VIEW));
}

void AddLastAction(CString& t, const ComponentDiagnosis& d)
{
    const RegistrationResult& action = d.lastAction;
    AddLine(t, LoadResourceString(IDS_DIAG_LAST_ACTION));
    if (!action.bDone) {
        AddLine(t, LoadResourceString(IDS_DIAG_NO_ACTION));
        return;
    }
    AddLine(t, FormatId(IDS_DIAG_ACTION, LoadResourceString(action.bRegister ? IDS_WORD_REGISTER : IDS_WORD_UNREGISTER).GetString(),
                        LoadResourceString(IDS_STAGE_NONE + action.nStage).GetString(), static_cast<unsigned long>(action.hr),
                        SystemErrorText(action.hr).GetString(), action.dMilliseconds));
    if (action.dwFaultCode)
        AddLine(t, FormatId(IDS_DIAG_FAULT, static_cast<unsigned long>(action.dwFaultCode), FaultName(action.dwFaultCode).GetString(),
                            action.strFaultModule.IsEmpty() ? LoadResourceString(IDS_UNKNOWN_MODULE).GetString() : action.strFaultModule.GetString()));
    if (action.nStage == STAGE_ENDED) AddLine(t, FormatId(IDS_DIAG_EXIT_CODE, static_cast<unsigned long>(action.dwExitCode)));
}

} // namespace

CString FormatComponentDiagnosis(const ComponentDiagnosis& d)
{
    CString t;
    AddLine(t, FormatId(IDS_DIAG_TITLE, d.strFileName.GetString(), d.strProgID.GetString()));
    AddLine(t, FormatId(IDS_DIAG_VERDICT, ComponentVerdict(d).GetString()));
    AddLine(t, CString());
    AddFile(t, d);
    if (d.file.bModule) AddImports(t, d);
    AddRegistration(t, d);
    AddLastAction(t, d);
    return t;
}
