#include "report/UndoCommand.h"
#include "report/CommandLine.h"
#include "report/Report.h"
#include "engine/undo/UndoJournal.h"
#include "res/resource.h"
#include <shellapi.h>

bool IsUndoRequest(const std::vector<CString>& args)
{
    return args.size() == 2 && SwitchName(args[0]) == "undo" && !args[1].IsEmpty() && SwitchName(args[1]).IsEmpty();
}

namespace {
CString Line(const CString& strText)
{
    return "ForgeSupport: " + strText + "\r\n";
}

CString WrittenLine(const UndoOutcome& outcome)
{
    CString strText;
    strText.Format(LoadResourceString(IDS_UNDO_FILE_WRITTEN), CString::FromWide(outcome.strFile.c_str()).GetString(), outcome.counts.nKeys,
                   outcome.counts.nValues);
    return Line(strText);
}
}

namespace {
// The file as the command line names it. The narrow arguments went through
// the ANSI code page, which on a system without UTF-8 as that page loses the
// letters of a profile's name that it cannot spell; the system's own wide
// command line still has them. The wide argument is taken only when it is
// the same one, that is when it narrows to exactly what was given.
std::wstring WideArgument(const CString& strNarrow)
{
    std::wstring strWide = strNarrow.ToWide();
    int nArgs = 0;
    LPWSTR* ppArgs = CommandLineToArgvW(GetCommandLineW(), &nArgs);
    if (!ppArgs) return strWide;
    for (int i = 1; i < nArgs; ++i) {
        if (CString::FromWide(ppArgs[i], -1).Str() == strNarrow.Str()) {
            strWide = ppArgs[i];
            break;
        }
    }
    LocalFree(ppArgs);
    return strWide;
}
}

UndoAnswer RunUndo(const CString& strFile)
{
    const UndoApplyResult result = ApplyUndoFile(WideArgument(strFile));
    UndoAnswer answer;
    switch (result.status) {
    case UndoApplyStatus::Applied:  answer.nExitCode = REPORT_ALL_SOUND;    break;
    case UndoApplyStatus::NoRights: answer.nExitCode = REPORT_NO_RIGHTS;    break;
    case UndoApplyStatus::Untrusted: answer.nExitCode = REPORT_UNTRUSTED;   break;
    default:                        answer.nExitCode = REPORT_CANNOT_WRITE; break;
    }
    (result.status == UndoApplyStatus::Applied ? answer.strOut : answer.strErr) += Line(result.strReason);
    if (result.own.bWritten) answer.strOut += WrittenLine(result.own);
    return answer;
}

CString CompletedUndoText()
{
    CString strText;
    for (const UndoOutcome& outcome : CompletePendingUndo()) strText += Line(CompletedUndoMessage(outcome));
    return strText;
}
