// The unattended report: the real ForgeSupport.exe run as a process with
// switches, against the demo installation and scratch folders, its exit code,
// its file and its standard output and error read back.
#include "DemoFixture.h"
#include "system/Registry.h"
#include "engine/components/Catalogue.h"
#include "engine/diagnosis/Diagnosis.h"
#include "res/resource.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace {

const char RULE[] = "----------------------------------\r\n";

std::optional<std::string> ReadWholeFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Starts the utility beside the test program with the switches and waits
// for it, its standard output and error going to files.
ProcessOutput RunUtility(const std::string& switches)
{
    return RunProcess("\"" + OwnProgramPath() + "\" " + switches);
}

std::string Quoted(const std::string& path)
{
    return "\"" + path + "\"";
}

// Names in a folder, to see that no temporary file was left behind.
std::vector<std::string> Names(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE) return names;
    do {
        if (std::string(data.cFileName) != "." && std::string(data.cFileName) != "..") names.push_back(data.cFileName);
    } while (FindNextFileA(hFind, &data));
    FindClose(hFind);
    return names;
}

class ReportTest : public DemoFixture {};

} // namespace

TEST_F(ReportTest, TextAndCsvCarryTheClipboardsSummaryAndRowsAndNameEveryFaultyRow)
{
    const std::string textPath = m_root / "report.txt", csvPath = m_root / "report.csv";
    const ProcessOutput text = RunUtility("/report " + Quoted(textPath));
    const ProcessOutput csv = RunUtility("-REPORT " + Quoted(csvPath) + " /Format CSV");

    const std::optional<std::string> copied = CopyVerifiedComResults();
    ASSERT_TRUE(copied.has_value());
    const size_t nSummaryEnd = copied->find(RULE, std::string(RULE).size()) + std::string(RULE).size();
    const std::string summary = copied->substr(0, nSummaryEnd), rows = copied->substr(nSummaryEnd);
    ASSERT_FALSE(rows.empty());

    // The demo leaves some rows out on purpose: the report says so.
    EXPECT_EQ(1u, text.exitCode) << text.err;
    EXPECT_EQ(1u, csv.exitCode) << csv.err;
    const std::string textBody = ReadWholeFile(textPath).value_or(""), csvBody = ReadWholeFile(csvPath).value_or("");
    EXPECT_EQ(0u, textBody.find(summary));
    EXPECT_EQ(0u, csvBody.find(summary));
    EXPECT_NE(std::string::npos, textBody.find("\r\nComponents:\r\n" + rows + "\r\n"));
    EXPECT_NE(std::string::npos, csvBody.find("\r\nFile Name,ProgId,Registered,On System,Version,Location DLL found at.\r\n" + rows));
    EXPECT_NE(std::string::npos, textBody.find("System folder: " + m_demo.SystemFolder() + "\r\n"));
    EXPECT_NE(std::string::npos, csvBody.find("ANSI code page," + std::to_string(GetACP()) + "\r\n"));

    int nFaulty = 0;
    for (const DemoRowExpectation& row : CDemoInstallation::ExpectedResults()) {
        const std::string progID = FindCatalogueEntry(row.strFileName.c_str())->pszProgID;
        const bool bUnregistered = !progID.empty() && !row.bRegistered;
        if (row.bOnSystem && !bUnregistered) continue;
        ++nFaulty;
        // The verdict the row's details give.
        const CString strVerdict = CatalogueRowVerdict(row.strFileName.c_str(), progID.c_str(),
                                                       FindCatalogueEntry(row.strFileName.c_str())->nKind,
                                                       m_demo.SystemFolder().c_str(),
                                                       ReadRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir"));
        const std::string verdict = strVerdict.GetString();
        EXPECT_FALSE(verdict.empty()) << row.strFileName;
        const std::string label = row.strFileName + (progID.empty() ? "" : " (" + progID + ")");
        EXPECT_NE(std::string::npos, textBody.find("\r\n" + label + ": " + verdict + "\r\n")) << label;
        EXPECT_NE(std::string::npos, csvBody.find("\r\n" + row.strFileName + "," + progID + "," +
                                                  (verdict.find(',') == std::string::npos ? verdict : "\"" + verdict + "\"") + "\r\n"))
            << label;
    }
    EXPECT_NE(std::string::npos, textBody.find("\r\nProblems: " + std::to_string(nFaulty) + "\r\n"));
}

TEST_F(ReportTest, ExitCodeComesFromTheRowsAndTheProject)
{
    // A System folder holding every file the catalogue looks for there, and
    // every ProgID registered: nothing to report.
    const std::string full = m_root / "Full";
    std::map<std::string, std::unique_ptr<CScopedRegValue>> registrations;
    for (int i = 0; i < g_nCatalogueEntries; ++i) {
        const CatalogueEntry& entry = g_catalogue[i];
        if (entry.nKind != KIND_WINDOWS_SYSTEM) m_root.MakeFile(std::string("Full\\") + entry.pszFileName);
        if (*entry.pszProgID)
            registrations[entry.pszFileName] = std::make_unique<CScopedRegValue>(
                HKEY_CLASSES_ROOT, std::string(entry.pszProgID) + "\\Clsid", "", std::string("{6B29FC40-CA47-1067-B31D-00DD010662DA}"));
    }
    const std::string report = Quoted(m_root / "r.txt"), folder = " /folder " + Quoted(full);
    const std::string good = " /project " + Quoted(m_demo.ProjectsFolder() + "\\standard.kvp");
    const std::string faulty = " /project " + Quoted(m_demo.ProjectsFolder() + "\\faults.kvp");

    EXPECT_EQ(0u, RunUtility("/report " + report + folder).exitCode);
    EXPECT_EQ(0u, RunUtility("/report " + report + folder + good).exitCode);
    const std::string body = ReadWholeFile(m_root / "r.txt").value_or("");
    EXPECT_NE(std::string::npos, body.find("\r\nProblems: None\r\n"));
    EXPECT_NE(std::string::npos, body.find("\r\nCaption: Forge Project (Standard)\r\nFeatures: 9\r\nErrors: 0\r\n"));
    EXPECT_EQ(2u, RunUtility("/report " + report + folder + faulty).exitCode);
    EXPECT_NE(std::string::npos, ReadWholeFile(m_root / "r.txt").value_or("").find("\r\nFailure at:"));

    // One file gone, then one ProgID unregistered, each alone is a fault.
    ASSERT_TRUE(DeleteFileA((full + "\\KfCore.dll").c_str()));
    EXPECT_EQ(1u, RunUtility("/report " + report + folder).exitCode);
    EXPECT_EQ(3u, RunUtility("/report " + report + folder + faulty).exitCode);
    m_root.MakeFile("Full\\KfCore.dll");
    const std::vector<DemoRowExpectation> demoRows = CDemoInstallation::ExpectedResults();
    const auto unregistered = std::find_if(demoRows.begin(), demoRows.end(), [](const DemoRowExpectation& row) {
        return !row.bRegistered && *FindCatalogueEntry(row.strFileName.c_str())->pszProgID;
    });
    ASSERT_NE(demoRows.end(), unregistered);
    registrations.erase(unregistered->strFileName);
    EXPECT_EQ(1u, RunUtility("/report " + report + folder).exitCode);

    // A folder that does not exist is no error of the switches: its rows say "No".
    const ProcessOutput missing = RunUtility("/report - /folder " + Quoted(m_root / "Nowhere"));
    EXPECT_EQ(1u, missing.exitCode);
    EXPECT_NE(std::string::npos, missing.out.find("\r\nKfCore.dll,ForgeCore.Engine.1,Yes,No,,\r\n"));
}

TEST(Report, AReportThatCannotBeWrittenLeavesWhatWasThere)
{
    const CTempDir temp;
    const std::string existing = temp.MakeFile("Reports\\report.txt", "the old report");
    const std::string folder = temp / "Reports";

    struct Case { std::string target, why; } cases[] = {
        {folder, "it is a folder"},
        {temp / "Missing\\report.txt", "its folder does not exist"},
        {folder + "\\" + std::string(300, 'r') + ".txt", "the path is too long"},
    };
    for (const Case& c : cases) {
        const ProcessOutput run = RunUtility("/report " + Quoted(c.target) + " /folder " + Quoted(temp / "Nowhere"));
        EXPECT_EQ(74u, run.exitCode) << c.target;
        EXPECT_NE(std::string::npos, run.err.find("could not be written to " + c.target + ": " + c.why)) << run.err;
    }
    EXPECT_EQ(std::vector<std::string>{"report.txt"}, Names(folder));

    // The old report open for reading and not for deletion: it cannot be
    // replaced, and it is not touched.
    HANDLE hHeld = CreateFileA(existing.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hHeld);
    const ProcessOutput held = RunUtility("/report " + Quoted(existing));
    CloseHandle(hHeld);
    EXPECT_EQ(74u, held.exitCode);
    EXPECT_EQ("the old report", ReadWholeFile(existing).value_or(""));
    EXPECT_EQ(std::vector<std::string>{"report.txt"}, Names(folder));

    // Free again, it is replaced by a whole report.
    const ProcessOutput written = RunUtility("/report " + Quoted(existing) + " /format json");
    EXPECT_NE(74u, written.exitCode);
    const std::string json = ReadWholeFile(existing).value_or("");
    EXPECT_EQ(0u, json.find("{\n  \"schema\": 1,"));
    EXPECT_EQ("}\n", json.substr(json.size() - 2));
    EXPECT_EQ(std::vector<std::string>{"report.txt"}, Names(folder));

    // A name of 80 characters fits, though it passes MAX_PATH bytes in UTF-8.
    const std::string name = Repeat("\xe6\x8a\xa5", 80) + ".txt";
    const ProcessOutput cjk = RunUtility("/report " + Quoted(folder + "\\" + name) + " /folder " + Quoted(temp / "Nowhere"));
    EXPECT_NE(74u, cjk.exitCode) << cjk.err;
    std::vector<std::string> names = Names(folder);
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"report.txt", name}), names);
}

TEST(Report, BadSwitchesEndWithTheUsageOnStandardErrorAndWriteNothing)
{
    const CTempDir temp;
    const std::string target = Quoted(temp / "r.txt");
    const std::string badSwitches[] = {
        "/folder C:\\",                       // no /report
        "/report",                            // no value
        "/report " + target + " /format xml",
        "/report " + target + " /report " + target,
        "/report " + target + " /format csv /format json",
        "/report " + target + " /verbose",
        "/report " + target + " stray",
        "report " + target,
    };
    for (const std::string& switches : badSwitches) {
        const ProcessOutput run = RunUtility(switches);
        EXPECT_EQ(64u, run.exitCode) << switches;
        EXPECT_EQ(0u, run.err.find("ForgeSupport: bad or missing switch: ")) << switches;
        EXPECT_NE(std::string::npos, run.err.find("Usage: ForgeSupport.exe /report <file>")) << switches;
        EXPECT_EQ("", run.out) << switches;
    }
    EXPECT_TRUE(Names(temp.Path()).empty());

    const ProcessOutput usage = RunUtility("-?");
    EXPECT_EQ(0u, usage.exitCode);
    EXPECT_EQ(0u, usage.out.find("Usage: ForgeSupport.exe /report <file>"));
    EXPECT_NE(std::string::npos, usage.out.find("  74  the report or the line could not be written (checked before any\r\n"));
}
