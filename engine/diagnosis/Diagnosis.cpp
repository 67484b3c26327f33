#include "engine/diagnosis/Diagnosis.h"
#include "engine/diagnosis/DiagnosisText.h"
#include "engine/components/ClassActivation.h"
#include "engine/components/Sibling.h"
#include "engine/components/Verification.h"
#include "system/FolderTrust.h"
#include "system/Paths.h"
#include "system/Registry.h"
#include "system/SystemInfo.h"
#include "res/resource.h"

namespace {

// TYPE_E_REGISTRYACCESS: a type library's registration could not write.
constexpr HRESULT HR_REGISTRY_ACCESS = static_cast<HRESULT>(0x8002801C);

bool IsExecutableName(const CString& strFileName)
{
    return strFileName.GetLength() >= 4 && strFileName.Right(4).CompareNoCase(".exe") == 0;
}

WORD OwnMachine()
{
    return sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;
}

// "32-bit server: put ForgeSupport.exe beside ForgeSupport64.exe ..." for a
// server of that view's bitness.
CString NoSiblingVerdict(int nServerBits)
{
    return FormatId(IDS_VERDICT_NO_SIBLING, RegistryViewName(nServerBits).GetString(),
                    SiblingProgramFileName().GetString(), OwnProgramFileName().GetString());
}

// An in-process server of the other bitness runs in the sibling program; a
// 64-bit one cannot run on a 32-bit system at all.
CString BitnessVerdict(const ComponentDiagnosis& d)
{
    const WORD wMachine = d.file.wMachine;
    if (wMachine == IMAGE_FILE_MACHINE_AMD64 && !IsSixtyFourBitSystem()) return LoadResourceString(IDS_VERDICT_NOT_ON_SYSTEM);
    if (wMachine != IMAGE_FILE_MACHINE_AMD64 && wMachine != IMAGE_FILE_MACHINE_I386)
        return FormatId(IDS_VERDICT_OTHER_CPU, MachineName(d.file).GetString());
    return d.bSiblingPresent ? CString() : NoSiblingVerdict(ModuleViewBits(d.file));
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

// What the file itself decides, before anything that was done to it.
CString FileVerdict(const ComponentDiagnosis& d)
{
    if (!d.bPresent || d.file.bFolder) return LoadResourceString(IDS_VERDICT_ABSENT);
    if (d.file.dwReadError) return FormatId(IDS_VERDICT_UNREADABLE, SystemErrorText(HRESULT_FROM_WIN32(d.file.dwReadError)).GetString());
    if (!d.file.bModule) return LoadResourceString(IDS_VERDICT_NOT_MODULE);
    // An executable server that is no program of this system is never started.
    if (d.bExecutable && d.file.bDll) return LoadResourceString(IDS_VERDICT_NOT_MODULE);
    if (d.bExecutable && !IsRunnableMachine(d.file.wMachine))
        return FormatId(IDS_VERDICT_OTHER_CPU, MachineName(d.file).GetString());
    const HRESULT hr = d.lastAction.hr;
    if (d.lastAction.bDone && (hr == E_ACCESSDENIED || hr == HR_REGISTRY_ACCESS) && !d.bElevated &&
        d.lastAction.nTrustProblem == TrustProblem::None)
        return LoadResourceString(IDS_VERDICT_NEEDS_ADMIN);
    // An executable server runs in its own process, whatever its bitness.
    if (!d.bExecutable && d.file.wMachine != OwnMachine()) {
        const CString strVerdict = BitnessVerdict(d);
        if (!strVerdict.IsEmpty()) return strVerdict;
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
    if (action.nRoute == ROUTE_NOT_ON_THIS_SYSTEM) return LoadResourceString(IDS_VERDICT_NOT_ON_SYSTEM);
    if (action.nRoute == ROUTE_NO_SIBLING) return NoSiblingVerdict(OwnViewBits() == 64 ? 32 : 64);
    if (action.nTrustProblem != TrustProblem::None)
        return FormatId(IDS_VERDICT_UNTRUSTED_SERVER, TrustProblemText(action.nTrustProblem, action.strUntrusted.ToWide()).GetString());
    if (action.bStopped)
        return FormatId(action.bTimedOut ? IDS_VERDICT_STOPPED_LIMIT : IDS_VERDICT_STOPPED_USER,
                        static_cast<unsigned long>((action.dMilliseconds + 500) / 1000));
    if (action.bHostEnded) return FormatId(IDS_VERDICT_HOST_ENDED, ExitCodeText(action.dwExitCode).GetString());
    // The helper process of either bitness: its answer, or its start.
    const bool bHelper = !d.bExecutable && !action.strProgram.IsEmpty();
    if (bHelper && action.nStage == STAGE_NONE && action.hr == HRESULT_FROM_WIN32(ERROR_INVALID_DATA))
        return FormatId(IDS_VERDICT_SIBLING_SILENT, action.strProgram.GetString(), static_cast<unsigned long>(action.dwExitCode));
    if (bHelper && action.nStage == STAGE_NONE && FAILED(hr))
        return FormatId(IDS_VERDICT_HOST_NOT_STARTED, action.strProgram.GetString(), SystemErrorText(hr).GetString());
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
    if (reg.bClsidWrongType) return FormatId(IDS_VERDICT_CLSID_TYPE, RegTypeName(reg.dwClsidWrongType).GetString());
    if (reg.strClsid.IsEmpty()) return LoadResourceString(IDS_VERDICT_NOT_REGISTERED);
    if (reg.bUserOverrides && IsSameFile(reg.machineView.strServerPath, d.strPath) &&
        !IsSameFile(reg.rowView.strServerPath, d.strPath))
        return FormatId(IDS_VERDICT_USER_OVERRIDE, (reg.rowView.strServerPath.IsEmpty() ? reg.strUserClsid
                                                                                         : reg.rowView.strServerPath).GetString());
    if (reg.rowView.strServerKey.IsEmpty()) {
        if (!reg.otherView.strServerKey.IsEmpty()) return FormatId(IDS_VERDICT_OTHER_VIEW_ONLY, RegistryViewName(reg.nViewBits == 64 ? 32 : 64).GetString());
        return FormatId(IDS_VERDICT_CLASS_MISSING, reg.strClsid.GetString());
    }
    if (!IsSameFile(reg.rowView.strServerPath, d.strPath))
        return FormatId(IDS_VERDICT_OTHER_COPY, reg.rowView.strServerValue.GetString());
    return LoadResourceString(IDS_VERDICT_SOUND);
}

} // namespace

ComponentDiagnosis DiagnoseComponent(const CString& strFileName, const CString& strProgID, const CString& strPath,
                                     const RegistrationResult& lastAction, const CImportResolver& resolver)
{
    ComponentDiagnosis d;
    d.strFileName = strFileName;
    d.strProgID = strProgID;
    d.strPath = strPath;
    d.bExecutable = IsExecutableName(strFileName);
    d.lastAction = lastAction;
    // A process's elevation never changes: asked once.
    static const bool s_bElevated = IsProcessElevated();
    d.bElevated = s_bElevated;
    const DWORD dwAttributes = strPath.IsEmpty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(strPath.ToWide().c_str());
    d.bPresent = dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
    if (d.bPresent) {
        d.file = ReadPeFile(strPath);
        if (d.file.bModule) d.imports = resolver.Resolve(strPath, d.file.imports, ModuleViewBits(d.file));
    }
    static const CString s_strSibling = SiblingProgramPath();
    d.strSibling = s_strSibling;
    const DWORD dwSibling = GetFileAttributesW(d.strSibling.ToWide().c_str());
    d.bSiblingPresent = dwSibling != INVALID_FILE_ATTRIBUTES && !(dwSibling & FILE_ATTRIBUTE_DIRECTORY);
    // Each row is judged in the view its clients use: its own bitness's.
    const int nFileBits = ModuleViewBits(d.file);
    d.bViewFromFile = nFileBits != 0;
    d.registration = ReadClassRegistration(strProgID, d.bExecutable, nFileBits);
    return d;
}

bool CanRegisteringMend(const ComponentDiagnosis& d)
{
    return !d.strProgID.IsEmpty() && FileVerdict(d).IsEmpty() && RegistrationVerdict(d) != LoadResourceString(IDS_VERDICT_SOUND);
}

CString ComponentVerdict(const ComponentDiagnosis& d)
{
    CString strVerdict = FileVerdict(d);
    if (strVerdict.IsEmpty()) strVerdict = ActionVerdict(d);
    if (strVerdict.IsEmpty()) strVerdict = RegistrationVerdict(d);
    // Registered and present is a proxy: a class that was tried and does not create says why.
    if (d.activation.Failed() && strVerdict == LoadResourceString(IDS_VERDICT_SOUND)) strVerdict = ActivationVerdict(d.activation);
    return strVerdict;
}

CString ResolveCatalogueLocation(const CString& strFileName, int nKind, const CString& strSystemFolder,
                                 const CString& strCommonFilesFolder)
{
    ComponentItem item(CString(), strFileName, nKind, CString());
    return ResolveLocation(item, VerificationFolders{strSystemFolder, strCommonFilesFolder});
}

CString RecordVerdict(const ComponentItem& item, const CImportResolver& resolver)
{
    ComponentDiagnosis d = DiagnoseComponent(item.strFileName, item.strProgID, item.strLocation, item.lastAction, resolver);
    d.activation = item.lastActivation;
    return ComponentVerdict(d);
}

std::vector<CString> CatalogueVerdicts(const CString& strSystemFolder, const CString& strCommonFilesFolder)
{
    const std::vector<std::unique_ptr<ComponentItem>> records = MakeCatalogueRecords();
    std::vector<ComponentItem*> order;
    for (const auto& pItem : records) order.push_back(pItem.get());
    CWorkProgress noProgress;
    ResolveLocations(order, VerificationFolders{strSystemFolder, strCommonFilesFolder}, noProgress);
    const CImportResolver resolver;
    std::vector<CString> verdicts;
    for (const ComponentItem* pItem : order) verdicts.push_back(RecordVerdict(*pItem, resolver));
    return verdicts;
}

CString CatalogueRowVerdict(const CString& strFileName, const CString& strProgID, int nKind,
                            const CString& strSystemFolder, const CString& strCommonFilesFolder)
{
    ComponentItem item(strProgID, strFileName, nKind, CString());
    item.strLocation = ResolveCatalogueLocation(strFileName, nKind, strSystemFolder, strCommonFilesFolder);
    return RecordVerdict(item, CImportResolver());
}
