#include "report/CommandLine.h"
#include "engine/components/ClassActivation.h"
#include "engine/components/ToolLocations.h"
#include "engine/diagnosis/DiagnosisText.h"
#include "report/Check.h"
#include "report/OneRegistration.h"
#include "report/UndoCommand.h"
#include "system/Registry.h"
#include "system/Paths.h"
#include "system/FileWrite.h"
#include "system/SystemMessage.h"
#include "system/SystemInfo.h"
#include "system/FolderTrust.h"
#include "framework/CException.h"
#include "res/resource.h"
#include <algorithm>
#include <cstdlib>

namespace {
bool ParseFormat(CString strValue, ReportFormat& format)
{
    strValue.MakeLower();
    if (strValue == "text") format = ReportFormat::Text;
    else if (strValue == "csv") format = ReportFormat::Csv;
    else if (strValue == "json") format = ReportFormat::Json;
    else return false;
    return true;
}

CString SystemMessage(DWORD dwError)
{
    CString strMessage = SystemMessageText(dwError);
    while (strMessage.EndsWith('.')) strMessage = strMessage.Left(strMessage.GetLength() - 1);
    if (strMessage.IsEmpty()) strMessage.Format("error %lu", dwError);
    return strMessage;
}

// The process's standard output or error: the handle it inherited when it has
// one, else the console of the process that started it. A program built for
// the window subsystem gets no console of its own.
HANDLE StandardHandle(DWORD nStdHandle)
{
    HANDLE hStd = GetStdHandle(nStdHandle);
    if (hStd && hStd != INVALID_HANDLE_VALUE && GetFileType(hStd) != FILE_TYPE_UNKNOWN) return hStd;
    static bool s_bAttached = AttachConsole(ATTACH_PARENT_PROCESS) != FALSE;
    if (!s_bAttached) return nullptr;
    static HANDLE s_hConsole = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, 0, nullptr);
    return s_hConsole == INVALID_HANDLE_VALUE ? nullptr : s_hConsole;
}

bool WriteAll(HANDLE hFile, const std::string& bytes)
{
    return WriteAllBytes(hFile, bytes.data(), bytes.size());
}

// A console shows text by its own code page; it is given the characters, so
// both the ANSI report and the UTF-8 one show as they are. Anything else (a
// file, a pipe) gets the bytes.
bool WriteStandard(DWORD nStdHandle, const std::string& bytes, UINT nCodePage)
{
    HANDLE hOut = StandardHandle(nStdHandle);
    if (!hOut) return false;
    DWORD dwMode = 0;
    if (GetConsoleMode(hOut, &dwMode)) {
        const int nBytes = static_cast<int>(bytes.size());
        const int nWide = nBytes ? MultiByteToWideChar(nCodePage, 0, bytes.data(), nBytes, nullptr, 0) : 0;
        std::wstring wide(static_cast<size_t>(nWide), L'\0');
        if (nWide) MultiByteToWideChar(nCodePage, 0, bytes.data(), nBytes, &wide[0], nWide);
        DWORD nWritten = 0;
        return nWide == 0 || WriteConsoleW(hOut, wide.data(), static_cast<DWORD>(nWide), &nWritten, nullptr);
    }
    return WriteAll(hOut, bytes);
}

void PrintError(const CString& strText)
{
    if (strText.IsEmpty()) return;
    WriteStandard(STD_ERROR_HANDLE, strText.Str(), CP_ACP);
}

// The System folder the report searches: the switch's, else the one the
// page's folder box starts with.
CString SystemFolderFor(const ReportRequest& request)
{
    return request.folder ? *request.folder : ToolSystemFolder();
}
}

CString SwitchName(const CString& strArg)
{
    if (strArg.GetLength() < 2 || (strArg[0] != '/' && strArg[0] != '-')) return CString();
    CString strName = strArg.Mid(1);
    strName.MakeLower();
    return strName;
}

bool ParseSwitches(const std::vector<CString>& args, ReportRequest& request, CString& strBad)
{
    bool bReport = false, bFormat = false, bCheck = false, bRepair = false, bTimeout = false, bActivate = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const CString strName = SwitchName(args[i]);
        strBad = args[i];
        if (strName == "?") {
            request.bUsage = true;
            continue;
        }
        if (strName == "check" || strName == "repair" || strName == "activate") {
            bool& bSeen = strName == "check" ? bCheck : strName == "repair" ? bRepair : bActivate;
            if (bSeen) return false;
            bSeen = true;
            continue;
        }
        const bool bKnown = strName == "report" || strName == "folder" || strName == "project" || strName == "format" ||
                            strName == "timeout";
        if (!bKnown || i + 1 >= args.size() || args[i + 1].IsEmpty()) return false;
        const CString& strValue = args[++i];
        if (strName == "report") {
            if (bReport) return false;
            bReport = true;
            request.strTarget = strValue;
        } else if (strName == "folder") {
            if (request.folder) return false;
            request.folder = strValue;
        } else if (strName == "project") {
            if (request.project) return false;
            request.project = strValue;
        } else if (strName == "timeout") {
            char* pEnd = nullptr;
            const unsigned long nSeconds = std::strtoul(strValue, &pEnd, 10);
            if (bTimeout || !pEnd || *pEnd || nSeconds == 0 || nSeconds > 3600) {
                strBad = strValue;
                return false;
            }
            bTimeout = true;
            request.dwTimeoutMs = nSeconds * 1000;
        } else if (bFormat) {
            return false;
        } else if (!ParseFormat(strValue, request.format)) {
            strBad = strValue;
            return false;
        } else {
            bFormat = true;
        }
    }
    // One mode: a report; a check, which writes nothing; or a repair, which
    // may also write the report of what it left.
    strBad = "/report";
    if (bCheck && bRepair) return false;
    request.mode = bCheck ? RequestMode::Check : bRepair ? RequestMode::Repair : RequestMode::Report;
    if (bCheck && (bReport || request.project || bFormat || (bTimeout && !bActivate))) return false;
    if (bRepair && (request.project || bActivate)) return false;
    if (bTimeout && !bRepair && !bActivate) return false;
    if (bActivate) request.dwActivationLimitMs = bTimeout ? request.dwTimeoutMs : ACTIVATION_TIME_LIMIT_MS;
    return request.bUsage || bReport || bCheck || bRepair;
}

namespace {
// The target's full path and its folder, once the target is known to be
// writable as a file: a path that fits, not a folder, in a folder that exists.
bool CheckTarget(const CString& strTarget, CString& strFull, CString& strFolder, CString& strReason)
{
    // Sized in characters, as the system counts them: under UTF-8 a path of
    // few characters may pass MAX_PATH bytes.
    int nNameOffset = 0;
    strFull = FullPathName(strTarget, &nNameOffset);
    const DWORD dwFullError = strFull.IsEmpty() ? GetLastError() : ERROR_SUCCESS;
    // The temporary file's name beside it must fit as well.
    if (PathCharacters(strFull) + 16 >= MAX_PATH || dwFullError == ERROR_FILENAME_EXCED_RANGE)
        strReason = LoadResourceString(IDS_REPORT_PATH_TOO_LONG);
    else if (strFull.IsEmpty())
        strReason = SystemMessage(dwFullError);
    else if (nNameOffset >= strFull.GetLength())
        strReason = LoadResourceString(IDS_REPORT_TARGET_IS_FOLDER);
    if (!strReason.IsEmpty()) return false;

    strFolder = strFull.Left(nNameOffset);
    const DWORD dwTarget = GetFileAttributesW(strFull.ToWide().c_str());
    const DWORD dwFolder = GetFileAttributesW(strFolder.ToWide().c_str());
    if (dwTarget != INVALID_FILE_ATTRIBUTES && (dwTarget & FILE_ATTRIBUTE_DIRECTORY))
        strReason = LoadResourceString(IDS_REPORT_TARGET_IS_FOLDER);
    else if (dwFolder == INVALID_FILE_ATTRIBUTES || !(dwFolder & FILE_ATTRIBUTE_DIRECTORY))
        strReason = LoadResourceString(IDS_REPORT_NO_FOLDER);
    return strReason.IsEmpty();
}
}

bool WriteFileAtomically(const CString& strTarget, const std::string& bytes, CString& strReason)
{
    CString strFull, strFolder;
    if (!CheckTarget(strTarget, strFull, strFolder, strReason)) return false;

    const DWORD dwError = WriteFileWhole(strFolder.ToWide(), strFull.ToWide(), bytes.data(), bytes.size(), true);
    if (dwError != ERROR_SUCCESS) strReason = SystemMessage(dwError);
    return dwError == ERROR_SUCCESS;
}

namespace {
bool WriteReport(const ReportRequest& request, const ReportContent& content)
{
    const std::string bytes = FormatReport(content, request.format);
    const UINT nCodePage = request.format == ReportFormat::Json ? CP_UTF8 : CP_ACP;
    CString strReason;
    const bool bWritten = request.strTarget == "-" ? WriteStandard(STD_OUTPUT_HANDLE, bytes, nCodePage)
                                                   : WriteFileAtomically(request.strTarget, bytes, strReason);
    if (!bWritten) {
        if (strReason.IsEmpty()) strReason = LoadResourceString(IDS_REPORT_NO_CONSOLE);
        CString strMessage;
        strMessage.Format(LoadResourceString(IDS_REPORT_CANNOT_WRITE), request.strTarget.GetString(), strReason.GetString());
        PrintError(strMessage);
    }
    return bWritten;
}

// The system account runs no server and applies no undo file from a folder
// that others could have put a program or a DLL in. False after saying so.
bool IsTrustedPlace()
{
    if (!IsLocalSystem()) return true;
    std::wstring strWhere;
    const TrustProblem problem = CheckProgramFolderTrust(&strWhere);
    if (problem == TrustProblem::None) return true;
    PrintError(FormatId(IDS_REPORT_UNTRUSTED_PROGRAM, TrustProblemText(problem, strWhere).GetString()));
    return false;
}

// Whether the report can go where it is asked to, before anything runs.
bool CanWriteReport(const ReportRequest& request)
{
    if (request.strTarget == "-") return true;
    CString strFull, strFolder, strReason;
    if (CheckTarget(request.strTarget, strFull, strFolder, strReason)) return true;
    CString strMessage;
    strMessage.Format(LoadResourceString(IDS_REPORT_CANNOT_WRITE), request.strTarget.GetString(), strReason.GetString());
    PrintError(strMessage);
    return false;
}

// /check and /repair: the one line on standard output, and 0 when every row
// is sound, 1 when some row is not.
int RunCheckOrRepair(const ReportRequest& request)
{
    const CString strFolder = SystemFolderFor(request);
    // With /report, the full report of every row before the repair and after it.
    const bool bFullReport = request.mode == RequestMode::Repair && !request.strTarget.IsEmpty();
    if (request.mode == RequestMode::Repair) {
        if (!CanWriteMachineClasses()) {
            PrintError(LoadResourceString(IDS_REPAIR_NO_RIGHTS));
            return REPORT_NO_RIGHTS;
        }
        if (!IsTrustedPlace()) return REPORT_UNTRUSTED;
        // A report that cannot be written is known before any server runs.
        if (bFullReport && !CanWriteReport(request)) return REPORT_CANNOT_WRITE;
    }
    std::vector<std::array<CString, 6>> rowsBefore;
    if (bFullReport) rowsBefore = GatherReport(strFolder, std::nullopt).rows;
    const CheckOutcome outcome = request.mode == RequestMode::Repair ? RunRepair(strFolder, request.dwTimeoutMs)
                                                                     : RunCheck(strFolder, request.dwActivationLimitMs);
    int nExitCode = outcome.problems.empty() ? REPORT_ALL_SOUND : REPORT_ROW_PROBLEMS;
    if (!outcome.undo.strError.IsEmpty()) {
        CString strMessage;
        strMessage.Format(LoadResourceString(outcome.undo.bRecorded ? IDS_UNDO_NOT_WRITTEN : IDS_UNDO_NOT_KEPT),
                          outcome.undo.strError.GetString());
        PrintError("ForgeSupport: " + strMessage + "\r\n");
        if (!outcome.undo.bRecorded) nExitCode = REPORT_CANNOT_WRITE;
    }
    if (bFullReport) {
        ReportContent after = GatherReport(strFolder, std::nullopt);
        after.rowsBefore = rowsBefore;
        if (outcome.undo.bWritten)
            after.undo = ReportUndo{CString::FromWide(outcome.undo.strFile.c_str()), outcome.undo.counts.nKeys, outcome.undo.counts.nValues};
        after.nExitCode = nExitCode;
        if (!WriteReport(request, after)) nExitCode = REPORT_CANNOT_WRITE;
    }
    // The line is written whatever else failed: it names the undo file, or
    // says why there is none.
    if (!WriteStandard(STD_OUTPUT_HANDLE, FormatCheckLine(outcome) + "\r\n", CP_UTF8)) return REPORT_CANNOT_WRITE;
    return nExitCode;
}

int RunSwitches(const std::vector<CString>& args)
{
    if (IsOneRegistration(args)) return RunOneRegistration(args);
    if (IsServerHost(args)) return RunServerHost(args);
    if (IsUndoRequest(args)) {
        if (!IsTrustedPlace()) return REPORT_UNTRUSTED;
        PrintError(CompletedUndoText());
        const UndoAnswer answer = RunUndo(args[1]);
        WriteStandard(STD_OUTPUT_HANDLE, answer.strOut.Str(), CP_ACP);
        PrintError(answer.strErr);
        return answer.nExitCode;
    }
    ReportRequest request;
    CString strBad;
    if (!ParseSwitches(args, request, strBad)) {
        CString strMessage;
        strMessage.Format(LoadResourceString(IDS_REPORT_BAD_SWITCH), strBad.GetString());
        PrintError(strMessage + LoadResourceString(IDS_REPORT_USAGE));
        return REPORT_BAD_SWITCHES;
    }
    if (request.bUsage) {
        WriteStandard(STD_OUTPUT_HANDLE, LoadResourceString(IDS_REPORT_USAGE).Str(), CP_ACP);
        return REPORT_ALL_SOUND;
    }
    // A check writes nothing, not even an undo file left unfinished.
    if (request.mode != RequestMode::Check) PrintError(CompletedUndoText());
    if (request.mode != RequestMode::Report) return RunCheckOrRepair(request);
    const ReportContent content = GatherReport(SystemFolderFor(request), request.project, request.dwActivationLimitMs);
    return WriteReport(request, content) ? content.ExitCode() : REPORT_CANNOT_WRITE;
}
}

int RunCommandLine(int argc, char** argv)
{
    std::vector<CString> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    // Whatever escapes the work is reported as what it is, never as a finding.
    try {
        return RunSwitches(args);
    } catch (CException* e) {
        char szMessage[1024] = "";
        e->GetErrorMessage(szMessage, sizeof szMessage);
        e->Delete();
        PrintError(FormatId(IDS_REPORT_INTERNAL_ERROR, szMessage));
    } catch (const std::exception& e) {
        PrintError(FormatId(IDS_REPORT_INTERNAL_ERROR, e.what()));
    }
    return REPORT_INTERNAL_ERROR;
}
