#include "report/UndoCommand.h"
#include "report/CommandLine.h"
#include "report/Report.h"
#include "engine/undo/UndoJournal.h"
#include "res/resource.h"

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

UndoAnswer RunUndo(const CString& strFile)
{
    const UndoApplyResult result = ApplyUndoFile(strFile.ToWide());
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
