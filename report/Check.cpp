#include "report/Check.h"
#include "report/ReportFormat.h"
#include "engine/components/ClassActivation.h"
#include "engine/components/Registration.h"
#include "engine/components/ToolLocations.h"
#include "engine/components/Verification.h"
#include "engine/diagnosis/Diagnosis.h"
#include "res/resource.h"
#include <algorithm>
#include <memory>

namespace {
bool IsSoundVerdict(const CString& strVerdict)
{
    return strVerdict == LoadResourceString(IDS_VERDICT_SOUND) || strVerdict == LoadResourceString(IDS_VERDICT_NO_PROGID);
}
}

namespace {
// The problems of verified records, and the records registering would mend.
CheckOutcome Judge(const std::vector<std::unique_ptr<ComponentItem>>& records, std::vector<ComponentItem*>* pMend)
{
    CheckOutcome outcome;
    const CImportResolver resolver;
    for (const auto& pItem : records) {
        ComponentDiagnosis d =
            DiagnoseComponent(pItem->strFileName, pItem->strProgID, pItem->strLocation, pItem->lastAction, resolver);
        d.activation = pItem->lastActivation;
        const CString strVerdict = ComponentVerdict(d);
        if (IsSoundVerdict(strVerdict)) continue;
        outcome.problems.push_back({pItem->strFileName, strVerdict});
        if (pMend && IsPresent(*pItem) && CanRegisteringMend(d)) pMend->push_back(pItem.get());
    }
    return outcome;
}
}

CheckOutcome RunCheck(const CString& strSystemFolder, DWORD dwActivationLimitMs)
{
    const VerificationFolders folders = MachineFolders(strSystemFolder);
    const std::vector<std::unique_ptr<ComponentItem>> records = VerifiedCatalogue(folders);
    if (dwActivationLimitMs) CreateCatalogueClasses(records, folders, dwActivationLimitMs);
    return Judge(records, nullptr);
}

CheckOutcome RunRepair(const CString& strSystemFolder, DWORD dwTimeLimitMs)
{
    const VerificationFolders folders = MachineFolders(strSystemFolder);
    const std::vector<std::unique_ptr<ComponentItem>> records = VerifiedCatalogue(folders);
    std::vector<ComponentItem*> mend;
    CheckOutcome before = Judge(records, &mend);
    before.bRepair = true;
    // Nothing to mend: the check just made is the answer, and nothing ran.
    if (mend.empty()) return before;
    CChangeRecording recording("Repair");
    RunOptions options;
    options.dwTimeLimitMs = dwTimeLimitMs;
    options.pRecording = &recording;
    CWorkProgress quiet;
    RegisterRecords(mend, true, folders, quiet, options);
    const UndoOutcome undo = recording.End();
    if (!undo.bRecorded) {
        before.undo = undo;
        return before;
    }

    CheckOutcome after = RunCheck(strSystemFolder);
    after.bRepair = true;
    after.undo = undo;
    for (const ComponentItem* pItem : mend) {
        const bool bStill = std::any_of(after.problems.begin(), after.problems.end(),
                                        [&](const CheckProblem& problem) { return problem.strFileName == pItem->strFileName; });
        if (!bStill) after.repaired.push_back(pItem->strFileName);
    }
    return after;
}

namespace {
// Why a repair left no undo file.
CString NoUndoReason(const UndoOutcome& undo)
{
    if (!undo.strError.IsEmpty()) return undo.strError;
    return LoadResourceString(undo.bRecorded ? IDS_REPORT_NO_UNDO_UNCHANGED : IDS_REPORT_NO_UNDO_NOTHING_RAN);
}
}

std::string FormatCheckLine(const CheckOutcome& outcome)
{
    const std::vector<CheckProblem>& problems = outcome.problems;
    const std::string head = std::string("{\"status\":\"") + (problems.empty() ? "sound" : "problems") +
                             "\",\"problems\":" + std::to_string(problems.size());
    std::string repaired;
    if (outcome.bRepair) {
        repaired = ",\"repaired\":[";
        for (size_t i = 0; i < outcome.repaired.size(); ++i) repaired += (i ? "," : "") + JsonString(outcome.repaired[i]);
        repaired += "]";
        if (outcome.undo.bWritten)
            repaired += ",\"undo\":{\"file\":" + JsonString(CString::FromWide(outcome.undo.strFile.c_str())) + ",\"keys\":" +
                        std::to_string(outcome.undo.counts.nKeys) + ",\"values\":" +
                        std::to_string(outcome.undo.counts.nValues) + "}";
        else
            repaired += ",\"undo\":{\"file\":null,\"why\":" + JsonString(NoUndoReason(outcome.undo)) + "}";
    }
    // Rows while they fit beside the head, the count left out, the repairs
    // and the closing brace.
    const auto tail = [&](size_t nShown) {
        return "],\"omitted\":" + std::to_string(problems.size() - nShown) + repaired + "}";
    };
    std::string rows = ",\"rows\":[";
    size_t nShown = 0;
    for (const CheckProblem& problem : problems) {
        const std::string row = std::string(nShown ? "," : "") + "{\"file\":" + JsonString(problem.strFileName) +
                                ",\"verdict\":" + JsonString(problem.strVerdict) + "}";
        if (head.size() + rows.size() + row.size() + tail(nShown + 1).size() > CHECK_LINE_LIMIT) break;
        rows += row;
        ++nShown;
    }
    std::string line = head + rows + tail(nShown);
    // Even the repaired list may not fit: then it is left out, the counts stay.
    if (line.size() > CHECK_LINE_LIMIT) line = head + ",\"rows\":[],\"omitted\":" + std::to_string(problems.size()) + "}";
    return line;
}
