// /repair of the console twin, run as management tools run it, over servers
// that hang, end their process, write without end, print braces, use COM or
// fault in their window procedure: it lives, mends what registers, ends with
// its one line and a true exit code, and leaves nothing running.
#include "common/HostSamples.h"
#include "engine/components/SelfRegistration.h"
#include <gtest/gtest.h>

using namespace host_samples;

TEST(FleetHelpers, RepairLivesThroughEveryMisbehaviourInHelpersOfBothBitnesses)
{
    CTempDir dir;
    const std::string system = dir.MakeDir("System");
    // ForgeSupport.com is 32-bit: in the x64 build the other bitness's
    // samples are its own, and this build's go to its sibling.
    const bool bComIsOther = sizeof(void*) == 8;
    std::map<std::string, Ran> servers;
    std::vector<std::string> paths;
    for (const HostSample& sample : SAMPLES) {
        for (const bool bOther : {false, true}) {
            const char* pszAs = bOther ? sample.pszOtherAs : sample.pszOwnAs;
            paths.push_back(dir.CopyIn(TestProgramFolder() + "\\" + SampleFile(sample, bOther), "System\\" + std::string(pszAs)));
            servers[pszAs] = {sample.nOutcome, bOther != bComIsOther};
        }
    }
    CScopedRegValue common(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir", dir / "Common");

    const ProcessOutput run = RunProcess("\"" + TestProgramFolder() + "\\ForgeSupport.com\" /repair /timeout 2 /folder \"" + system + "\"");
    EXPECT_EQ(1u, run.exitCode) << run.out << run.err;
    EXPECT_EQ(run.out.size() - 2, run.out.find("\r\n")) << "one line: " << run.out;
    const size_t nRepaired = run.out.find("\"repaired\":[");
    ASSERT_NE(std::string::npos, nRepaired) << run.out;
    const std::string repaired = run.out.substr(nRepaired, run.out.find(']', nRepaired) - nRepaired);
    for (const auto& [name, ran] : servers)
        EXPECT_EQ(ran.nOutcome == Outcome::Registers, repaired.find("\"" + name + "\"") != std::string::npos) << name << ": " << repaired;
    ExpectHelpersKeptAndReplaced(system + "\\host-pids.txt", servers);
    EXPECT_TRUE(WaitFor(NoHelperLeft, 10)) << "a helper was left running";
    for (const std::string& path : paths) RegisterServerFile(path.c_str(), false);
}
