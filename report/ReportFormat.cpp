#include "report/ReportFormat.h"
#include "engine/components/ClassActivation.h"
#include "engine/components/ResultsText.h"
#include "res/resource.h"
#include <cstdio>
#include <numeric>
#include <optional>

namespace {
const int JSON_SCHEMA = 1;
const UINT s_columnHeadings[6] = {IDS_COL_FILE_NAME, IDS_COL_PROGID, IDS_COL_REGISTERED,
                                  IDS_COL_ON_SYSTEM, IDS_COL_VERSION, IDS_COL_LOCATION};

CString Number(long nValue)
{
    CString text;
    text.Format("%ld", nValue);
    return text;
}

CString YesNo(bool bValue)
{
    return LoadResourceString(bValue ? IDS_YES : IDS_NO);
}

// The environment block as label and value pairs, in the order both text
// forms show them.
std::vector<std::pair<CString, CString>> EnvironmentPairs(const ReportEnvironment& env)
{
    return {
        {LoadResourceString(IDS_REPORT_UTILITY_VERSION), env.strUtilityVersion},
        {LoadResourceString(IDS_REPORT_UTILITY_BITS), Number(env.nUtilityBits)},
        {LoadResourceString(IDS_REPORT_OS_BITS), Number(env.nOSBits)},
        {LoadResourceString(IDS_REPORT_OS_PRODUCT), env.strOSProduct},
        {LoadResourceString(IDS_REPORT_OS_DISPLAY_VERSION), env.strOSDisplayVersion},
        {LoadResourceString(IDS_REPORT_OS_BUILD), env.strOSBuild},
        {LoadResourceString(IDS_REPORT_ELEVATED), YesNo(env.bElevated)},
        {LoadResourceString(IDS_REPORT_USER_LOCALE), env.strUserLocale},
        {LoadResourceString(IDS_REPORT_CODE_PAGE), Number(static_cast<long>(env.nAnsiCodePage))},
        {LoadResourceString(IDS_REPORT_SYSTEM_FOLDER), env.strSystemFolder},
        {LoadResourceString(IDS_REPORT_COMMON_FILES_FOLDER), env.strCommonFilesFolder},
        {LoadResourceString(IDS_REPORT_LOCAL_TIME), env.strLocalTime},
    };
}

CString RowsText(const std::vector<std::array<CString, 6>>& rows)
{
    CString strRows;
    for (const auto& row : rows) {
        const CString cells[6] = {row[0], row[1], row[2], row[3], row[4], row[5]};
        strRows += FormatResultsLine(cells);
    }
    return strRows;
}

// Text and csv differ only in how a label meets its value and in quoting;
// both keep the clipboard's summary and rows as they are.
class CPlainWriter {
public:
    explicit CPlainWriter(bool bCsv) : m_bCsv(bCsv) {}

    CString Field(const CString& strValue) const { return m_bCsv ? CsvField(strValue) : strValue; }
    CString Pair(const CString& strLabel, const CString& strValue) const
    {
        return Field(strLabel) + (m_bCsv ? "," : ": ") + Field(strValue) + "\r\n";
    }
    CString Pair(UINT nLabelID, const CString& strValue) const { return Pair(LoadResourceString(nLabelID), strValue); }

    // The rows under their heading; nTitleID names the block in text.
    CString Rows(const std::vector<std::array<CString, 6>>& rows, UINT nTitleID) const
    {
        CString out;
        if (m_bCsv) {
            CString headings[6];
            for (int c = 0; c < 6; ++c) headings[c] = LoadResourceString(s_columnHeadings[c]);
            out += FormatResultsLine(headings);
        } else {
            out += LoadResourceString(nTitleID) + ":\r\n";
        }
        return out + RowsText(rows);
    }

    CString Problems(const std::vector<ReportProblem>& problems) const
    {
        CString out;
        if (m_bCsv)
            out += Field(LoadResourceString(IDS_COL_FILE_NAME)) + "," + Field(LoadResourceString(IDS_COL_PROGID)) + "," +
                   Field(LoadResourceString(IDS_REPORT_PROBLEM)) + "\r\n";
        else
            out += Pair(IDS_REPORT_PROBLEMS, problems.empty() ? LoadResourceString(IDS_REPORT_NONE)
                                                              : Number(static_cast<long>(problems.size())));
        for (const ReportProblem& problem : problems) {
            if (m_bCsv)
                out += Field(problem.strFileName) + "," + Field(problem.strProgID) + "," + Field(problem.strVerdict) + "\r\n";
            else
                out += problem.strFileName + (problem.strProgID.IsEmpty() ? CString() : " (" + problem.strProgID + ")") +
                       ": " + problem.strVerdict + "\r\n";
        }
        return out;
    }

    CString Project(const ReportProject& project) const
    {
        CString out = Pair(IDS_REPORT_PROJECT, project.strPath) + Pair(IDS_REPORT_CAPTION, project.strCaption) +
                      Pair(IDS_REPORT_FEATURES, Number(project.nFeatures)) +
                      Pair(IDS_REPORT_ERRORS, Number(static_cast<long>(project.errors.size())));
        for (const CString& line : project.errors) out += Field(line) + "\r\n";
        return out;
    }

private:
    bool m_bCsv;
};

CString FormatPlain(const ReportContent& content, bool bCsv)
{
    const CPlainWriter writer(bCsv);
    CString out = content.strSummary;
    for (const auto& [label, value] : EnvironmentPairs(content.environment)) out += writer.Pair(label, value);
    // After a repair, the rows as they were before it come first.
    if (!content.rowsBefore.empty()) out += "\r\n" + writer.Rows(content.rowsBefore, IDS_REPORT_COMPONENTS_BEFORE);
    if (content.undo) {
        CString strCounts;
        strCounts.Format(LoadResourceString(IDS_REPORT_UNDO_COUNTS), content.undo->nKeys, content.undo->nValues);
        out += "\r\n" + writer.Pair(IDS_REPORT_UNDO_FILE, content.undo->strFile) + writer.Pair(IDS_REPORT_UNDO_RESTORES, strCounts);
    }
    out += "\r\n" + writer.Rows(content.rows, IDS_REPORT_COMPONENTS);
    out += "\r\n" + writer.Problems(content.problems);
    if (content.project) out += "\r\n" + writer.Project(*content.project);
    return out;
}

std::string JsonBool(bool b) { return b ? "true" : "false"; }

std::string JsonEnvironment(const ReportEnvironment& env)
{
    std::string out = "  \"environment\": {\n";
    out += "    \"utilityVersion\": " + JsonString(env.strUtilityVersion) + ",\n";
    out += "    \"utilityBits\": " + std::to_string(env.nUtilityBits) + ",\n";
    out += "    \"osBits\": " + std::to_string(env.nOSBits) + ",\n";
    out += "    \"osProduct\": " + JsonString(env.strOSProduct) + ",\n";
    out += "    \"osDisplayVersion\": " + JsonString(env.strOSDisplayVersion) + ",\n";
    out += "    \"osBuild\": " + JsonString(env.strOSBuild) + ",\n";
    out += "    \"elevated\": " + JsonBool(env.bElevated) + ",\n";
    out += "    \"userLocale\": " + JsonString(env.strUserLocale) + ",\n";
    out += "    \"ansiCodePage\": " + std::to_string(env.nAnsiCodePage) + ",\n";
    out += "    \"systemFolder\": " + JsonString(env.strSystemFolder) + ",\n";
    out += "    \"commonFilesFolder\": " + JsonString(env.strCommonFilesFolder) + ",\n";
    out += "    \"localTime\": " + JsonString(env.strLocalTime) + "\n  },\n";
    return out;
}

// An array of one-line objects, one per element.
template <class T, class Describe>
std::string JsonArray(const char* pszName, const std::vector<T>& elements, Describe describe)
{
    std::string out = std::string("  \"") + pszName + "\": [";
    for (size_t i = 0; i < elements.size(); ++i) out += (i ? ",\n    {" : "\n    {") + describe(elements[i]) + "}";
    return out + (elements.empty() ? "],\n" : "\n  ],\n");
}

std::string JsonRow(const std::array<CString, 6>& row)
{
    static const char* const s_keys[6] = {"fileName", "progId", "registered", "onSystem", "version", "location"};
    std::string out;
    for (size_t c = 0; c < 6; ++c) out += std::string(c ? ", " : "") + "\"" + s_keys[c] + "\": " + JsonString(row[c]);
    return out;
}

// With /activate, what creating the row's class did; null for a row whose
// class was not tried.
std::string JsonActivation(const ActivationResult& result)
{
    if (!result.bTried) return ", \"activation\": null";
    char szActivation[128];
    std::snprintf(szActivation, sizeof szActivation, ", \"activation\": {\"stage\": \"%s\", \"hresult\": \"0x%08lX\", \"ms\": %.0f}",
                  ActivationStageKey(result.nStage), static_cast<unsigned long>(result.hr), result.dMilliseconds);
    return szActivation;
}

std::string JsonProblem(const ReportProblem& problem)
{
    return "\"fileName\": " + JsonString(problem.strFileName) + ", \"progId\": " + JsonString(problem.strProgID) +
           ", \"present\": " + JsonBool(problem.bPresent) + ", \"registered\": " +
           (problem.strProgID.IsEmpty() ? std::string("null") : JsonBool(problem.bRegistered)) +
           ", \"verdict\": " + JsonString(problem.strVerdict);
}

std::string JsonProject(const std::optional<ReportProject>& project)
{
    if (!project) return "  \"project\": null\n";
    std::string out = "  \"project\": {\"path\": " + JsonString(project->strPath) + ", \"caption\": " +
                      JsonString(project->strCaption) + ", \"features\": " + std::to_string(project->nFeatures) +
                      ", \"errors\": [";
    for (size_t i = 0; i < project->errors.size(); ++i) out += (i ? ", " : "") + JsonString(project->errors[i]);
    return out + "]}\n";
}

std::string FormatJson(const ReportContent& content)
{
    std::string out = "{\n  \"schema\": " + std::to_string(JSON_SCHEMA) + ",\n";
    out += "  \"exitCode\": " + std::to_string(content.ExitCode()) + ",\n";
    out += "  \"summary\": " + JsonString(content.strSummary) + ",\n";
    out += JsonEnvironment(content.environment);
    if (!content.rowsBefore.empty()) out += JsonArray("componentsBeforeRepair", content.rowsBefore, JsonRow);
    if (content.undo)
        out += "  \"undo\": {\"file\": " + JsonString(content.undo->strFile) + ", \"keys\": " +
               std::to_string(content.undo->nKeys) + ", \"values\": " + std::to_string(content.undo->nValues) + "},\n";
    if (content.bActivated) {
        std::vector<size_t> rows(content.rows.size());
        std::iota(rows.begin(), rows.end(), size_t(0));
        out += JsonArray("components", rows, [&](size_t i) {
            return JsonRow(content.rows[i]) + (i < content.activations.size() ? JsonActivation(content.activations[i]) : "");
        });
    } else {
        out += JsonArray("components", content.rows, JsonRow);
    }
    out += JsonArray("problems", content.problems, JsonProblem);
    out += JsonProject(content.project);
    return out + "}\n";
}
}

std::string FormatReport(const ReportContent& content, ReportFormat format)
{
    switch (format) {
    case ReportFormat::Json: return FormatJson(content);
    case ReportFormat::Csv:  return FormatPlain(content, true).Str();
    default:                 return FormatPlain(content, false).Str();
    }
}

std::string JsonString(const CString& strAnsi)
{
    std::wstring wide;
    if (!strAnsi.IsEmpty()) {
        const int nWide = MultiByteToWideChar(CP_ACP, 0, strAnsi.GetString(), strAnsi.GetLength(), nullptr, 0);
        wide.resize(static_cast<size_t>(nWide > 0 ? nWide : 0));
        if (nWide > 0) MultiByteToWideChar(CP_ACP, 0, strAnsi.GetString(), strAnsi.GetLength(), &wide[0], nWide);
    }
    std::string out = "\"";
    for (wchar_t ch : wide) {
        if (ch == L'"' || ch == L'\\') {
            out += '\\';
            out += static_cast<char>(ch);
        } else if (ch == L'\r' || ch == L'\n' || ch == L'\t') {
            out += ch == L'\r' ? "\\r" : ch == L'\n' ? "\\n" : "\\t";
        } else if (ch < 0x20) {
            char szEscape[8];
            std::snprintf(szEscape, sizeof szEscape, "\\u%04x", static_cast<unsigned>(ch));
            out += szEscape;
        } else {
            char szUtf8[8] = "";
            const int n = WideCharToMultiByte(CP_UTF8, 0, &ch, 1, szUtf8, sizeof szUtf8, nullptr, nullptr);
            // A lone surrogate half is written as an escape, which JSON allows.
            if (n > 0 && !(ch >= 0xD800 && ch <= 0xDFFF)) out.append(szUtf8, static_cast<size_t>(n));
            else {
                char szEscape[8];
                std::snprintf(szEscape, sizeof szEscape, "\\u%04x", static_cast<unsigned>(ch));
                out += szEscape;
            }
        }
    }
    return out + "\"";
}

