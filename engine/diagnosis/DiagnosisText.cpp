#include "engine/diagnosis/DiagnosisText.h"
#include "engine/diagnosis/Diagnosis.h"
#include "engine/components/ClassActivation.h"
#include "system/Registry.h"
#include "system/SystemInfo.h"
#include "system/FileVersion.h"
#include "system/FolderTrust.h"
#include "system/Paths.h"
#include "system/SystemMessage.h"
#include "res/resource.h"
#include <cstdarg>
#include <cstdio>

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

CString ExitCodeText(DWORD dwExitCode)
{
    CString strText;
    if (dwExitCode >= 0x10000) strText.Format("0x%08lX", static_cast<unsigned long>(dwExitCode));
    else strText.Format("%lu", static_cast<unsigned long>(dwExitCode));
    return strText;
}

CString RegistryViewName(int nViewBits)
{
    return LoadResourceString(nViewBits == 64 ? IDS_VIEW_64 : IDS_VIEW_32);
}

CString SystemErrorText(HRESULT hr)
{
    const CString strText = SystemMessageText(static_cast<DWORD>(hr));
    return strText.IsEmpty() ? LoadResourceString(IDS_UNKNOWN_ERROR) : strText;
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

void AddView(CString& t, const ComponentDiagnosis& d, const ClassServerView& view, int nViewBits)
{
    const CString strView = RegistryViewName(nViewBits);
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
    AddLine(t, FormatId(IDS_DIAG_VIEW_READ, RegistryViewName(reg.nViewBits).GetString(),
                        LoadResourceString(d.bViewFromFile ? IDS_WORD_SERVERS_VIEW : IDS_WORD_PROGRAMS_VIEW).GetString()));
    if (reg.strClsid.IsEmpty()) {
        AddLine(t, FormatId(IDS_DIAG_CLSID, LoadResourceString(IDS_WORD_NONE).GetString(), "HKEY_CLASSES_ROOT"));
        if (reg.bClsidWrongType) AddLine(t, FormatId(IDS_DIAG_CLSID_TYPE, RegTypeName(reg.dwClsidWrongType).GetString()));
        return;
    }
    if (reg.bUserOverrides)
        AddLine(t, FormatId(IDS_DIAG_CLSID_OVERRIDE, reg.strClsid.GetString(), reg.strMachineClsid.GetString()));
    else
        AddLine(t, FormatId(IDS_DIAG_CLSID, reg.strClsid.GetString(), reg.strUserClsid.IsEmpty() ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER"));
    AddView(t, d, reg.rowView, reg.nViewBits);
    if (reg.bOtherViewExists) AddView(t, d, reg.otherView, reg.nViewBits == 64 ? 32 : 64);
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
    if (action.bHostEnded) AddLine(t, FormatId(IDS_DIAG_HOST_ENDED, ExitCodeText(action.dwExitCode).GetString()));
    if (action.nTrustProblem != TrustProblem::None)
        AddLine(t, FormatId(IDS_DIAG_UNTRUSTED_SERVER, TrustProblemText(action.nTrustProblem, action.strUntrusted.ToWide()).GetString()));
    // Every in-process server runs in a helper process: which program it was.
    if ((action.nRoute == ROUTE_SIBLING || action.nRoute == ROUTE_THIS_PROGRAM) && !action.strProgram.IsEmpty())
        AddLine(t, FormatId(IDS_DIAG_RUN_BY, action.strProgram.GetString()));
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
    t += FormatActivationDetails(d.activation);
    return t;
}
