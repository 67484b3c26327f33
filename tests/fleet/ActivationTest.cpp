// /check /activate and /report /activate: each row's class is created in a
// helper process, each within /timeout, and a class that does not create
// makes its row a problem; without /activate nothing creates a class.
#include "common/ActivationSamples.h"
#include "report/CommandLine.h"
#include <gtest/gtest.h>

using namespace activation_samples;

namespace {
// The row of the check's one line for a file: its verdict, or empty.
std::string VerdictIn(const std::string& line, const std::string& file)
{
    const std::string key = "{\"file\":\"" + file + "\",\"verdict\":\"";
    const size_t nAt = line.find(key);
    if (nAt == std::string::npos) return std::string();
    const size_t nStart = nAt + key.size();
    return line.substr(nStart, line.find("\"}", nStart) - nStart);
}
}

using ActivationFleetTest = ActivationSamplesTest;

TEST_F(ActivationFleetTest, CheckActivateGivesEachClassItsVerdictTwiceInEitherProgramAndLeavesNothingRunning)
{
    // The console twin is 32-bit: in the 64-bit build it hands the 64-bit
    // classes to its sibling, and the program of this build keeps its own.
    const std::string programs[2] = {"\"" + TestProgramFolder() + "\\ForgeSupport.com\" ", "\"" + OwnProgramPath() + "\" "};
    for (const std::string& program : programs) {
        const ProcessOutput run = RunProcess(program + "/check /activate /timeout 3 /folder \"" + System() + "\"");
        EXPECT_EQ(1u, run.exitCode) << run.out << run.err;
        for (const ActivationSample& sample : SAMPLES) {
            const std::string verdict = VerdictIn(run.out, sample.pszAs);
            if (sample.pszVerdict) EXPECT_EQ(0u, verdict.find(sample.pszVerdict)) << sample.pszAs << ": " << verdict;
            else EXPECT_EQ("", verdict) << sample.pszAs << " creates";
        }
        EXPECT_TRUE(WaitFor(NothingLeftRunning, 10)) << program << "left a helper or a local server running";
    }
}

TEST_F(ActivationFleetTest, ReportActivateAddsTheStageToTheJsonRowsAndWithoutItNothingIsCreated)
{
    const std::string folder = " /folder \"" + System() + "\"";
    const ProcessOutput json = RunProcess("\"" + OwnProgramPath() + "\" /report - /format json /activate /timeout 3" + folder);
    EXPECT_EQ(1u, json.exitCode);
    EXPECT_NE(std::string::npos, json.out.find("\"fileName\": \"KfAutomate.dll\", \"progId\": \"ForgeCore.Automation.1\", \"registered\": \"Yes\"")) << json.out.substr(0, 3000);
    EXPECT_NE(std::string::npos, json.out.find("\"activation\": {\"stage\": \"created\", \"hresult\": \"0x00000000\", \"ms\": "));
    EXPECT_NE(std::string::npos, json.out.find("\"activation\": {\"stage\": \"createInstance\", \"hresult\": \"0x8007000E\", \"ms\": "));
    EXPECT_NE(std::string::npos, json.out.find("\"location\": \"\", \"activation\": null}")) << "an absent row was not tried";
    EXPECT_NE(std::string::npos, json.out.find("\"fileName\": \"KfBuild.dll\", \"progId\": \"ForgeBuild.Builder.1\", \"present\": true, \"registered\": true, \"verdict\": \"Registered and present, but its class does not create: CreateInstance: 0x8007000E"));
    EXPECT_TRUE(WaitFor(NothingLeftRunning, 10));

    // A check and a report without the switch read the registry and the disk alone.
    const ProcessOutput check = RunProcess("\"" + OwnProgramPath() + "\" /check" + folder);
    EXPECT_EQ("", VerdictIn(check.out, "KfBuild.dll")) << check.out;
    const ProcessOutput plain = RunProcess("\"" + OwnProgramPath() + "\" /report - /format json" + folder);
    EXPECT_EQ(std::string::npos, plain.out.find("\"activation\""));
    EXPECT_EQ(0, CountProcesses("KvAgent.exe"));
}

TEST(ActivateSwitch, GoesWithCheckOrReportAndTimeoutBoundsEachClass)
{
    const auto parse = [](std::vector<CString> args, ReportRequest& request) {
        CString strBad;
        return ParseSwitches(args, request, strBad);
    };
    ReportRequest check;
    ASSERT_TRUE(parse({"/check", "/activate", "/timeout", "5"}, check));
    EXPECT_EQ(5000u, check.dwActivationLimitMs);
    ReportRequest report;
    ASSERT_TRUE(parse({"/report", "r.json", "-ACTIVATE", "/format", "json"}, report));
    EXPECT_EQ(20000u, report.dwActivationLimitMs) << "the default, shorter than COM's own wait";
    ReportRequest plain;
    ASSERT_TRUE(parse({"/check"}, plain));
    EXPECT_EQ(0u, plain.dwActivationLimitMs);
    for (const std::vector<CString>& bad : {std::vector<CString>{"/activate"}, {"/repair", "/activate"}, {"/check", "/activate", "/activate"},
                                           {"/check", "/timeout", "5"}}) {
        ReportRequest request;
        EXPECT_FALSE(parse(bad, request)) << bad.size();
    }
}
