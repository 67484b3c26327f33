#include "report/Check.h"
#include "report/ReportFormat.h"
#include "engine/components/RecordOrder.h"
#include "engine/components/Registration.h"
#include "engine/components/ToolLocations.h"
#include "engine/components/Verification.h"
#include "engine/diagnosis/Diagnosis.h"
#include "res/resource.h"
#include <algorithm>
#include <memory>

namespace {
// The catalogue's records in the list's first order, verified as the two
// buttons verify them.
std::vector<std::unique_ptr<ComponentItem>> VerifiedRecords(const VerificationFolders& folders)
{
    std::vector<std::unique_ptr<ComponentItem>> records = MakeCatalogueRecords();
    std::stable_sort(records.begin(), records.end(),
                     [](const auto& a, const auto& b) { return CompareRecords(*a, *b, 0) < 0; });
    std::vector<ComponentItem*> order;
    for (const auto& pItem : records) order.push_back(pItem.get());
    CWorkProgress quiet;
    VerifyFiles(order, folders, quiet);
    VerifyRegistration(order, folders, quiet);
    return records;
}

bool IsSoundVerdict(const CString& strVerdict)
{
    return strVerdict == LoadResourceString(IDS_VERDICT_SOUND) || strVerdict == LoadResourceString(IDS_VERDICT_NO_PROGID);
}
}

CheckOutcome RunCheck(const CString& strSystemFolder)
{
    CheckOutcome outcome;
    const CImportResolver resolver;
    for (const auto& pItem : VerifiedRecords(MachineFolders(strSystemFolder))) {
        const CString strVerdict = RecordVerdict(*pItem, resolver);
        if (!IsSoundVerdict(strVerdict)) outcome.problems.push_back({pItem->strFileName, strVerdict});
    }
    return outcome;
}

CheckOutcome RunRepair(const CString& strSystemFolder, DWORD dwTimeLimitMs)
{
    const VerificationFolders folders = MachineFolders(strSystemFolder);
    const std::vector<std::unique_ptr<ComponentItem>> records = VerifiedRecords(folders);
    std::vector<ComponentItem*> mend;
    const CImportResolver resolver;
    for (const auto& pItem : records)
        if (IsPresent(*pItem) &&
            CanRegisteringMend(DiagnoseComponent(pItem->strFileName, pItem->strProgID, pItem->strLocation, pItem->lastAction, resolver)))
            mend.push_back(pItem.get());
    RunOptions options;
    options.dwTimeLimitMs = dwTimeLimitMs;
    CWorkProgress quiet;
    RegisterRecords(mend, true, folders, quiet, options);

    CheckOutcome after = RunCheck(strSystemFolder);
    after.bRepair = true;
    for (const ComponentItem* pItem : mend) {
        const bool bStill = std::any_of(after.problems.begin(), after.problems.end(),
                                        [&](const CheckProblem& problem) { return problem.strFileName == pItem->strFileName; });
        if (!bStill) after.repaired.push_back(pItem->strFileName);
    }
    return after;
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
