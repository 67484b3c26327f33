// Registers and unregisters a sample server of this build's bitness in a
// helper process of this program, and one of the other bitness in a helper
// process of the sibling program, round after round in the same run (each a
// lone call: its helper started and ended for it); also starts the sibling
// bare ("/?"). Prints the medians: both routes should cost the same, each
// about one process start more than the server itself.
#include "BenchTiming.h"
#include "common/TestSupport.h"
#include "engine/components/SelfRegistration.h"
#include "engine/components/ServerProcess.h"
#include "engine/components/Sibling.h"
#include <algorithm>
#include <cstdio>
#include <ole2.h>

namespace {
const int ROUNDS = 9;

// One registration, timed; negative when it did not succeed.
double TimeRegistration(const std::string& path, bool bRegister, RegistrationRoute expected)
{
    RegistrationResult result;
    const double start = BenchSeconds();
    const bool bDone = RegisterServerFile(path.c_str(), bRegister, &result);
    const double elapsed = BenchSeconds() - start;
    return bDone && result.nRoute == expected ? elapsed : -1;
}
}

int main()
{
    if (FAILED(OleInitialize(nullptr))) return 2;
    const CString strSibling = SiblingProgramPath();
    if (GetFileAttributesA(strSibling) == INVALID_FILE_ATTRIBUTES) {
        std::fprintf(stderr, "no sibling at %s: build both programs (make both)\n", strSibling.GetString());
        return 1;
    }
    std::vector<double> own, sibling, bare;
    {
        const CTempDir temp;
        const std::string ownPath = temp.CopyIn(TestProgramFolder() + "\\ForgeSampleServer.dll", "Own\\KfBuild.dll");
        const std::string otherPath = temp.CopyIn(TestProgramFolder() + "\\SampleOtherBitness.dll", "Other\\KfBuild.dll");
        CWorkProgress quiet;
        for (int round = 0; round <= ROUNDS; ++round) {
            const double a = TimeRegistration(ownPath, true, ROUTE_THIS_PROGRAM);
            TimeRegistration(ownPath, false, ROUTE_THIS_PROGRAM);
            const double b = TimeRegistration(otherPath, true, ROUTE_SIBLING);
            TimeRegistration(otherPath, false, ROUTE_SIBLING);
            const double start = BenchSeconds();
            const ProcessRun run = RunHidden(strSibling, "/?", CString(), "/?", 60000, quiet, true);
            const double c = run.bEnded ? BenchSeconds() - start : -1;
            if (a < 0 || b < 0 || c < 0) {
                std::fprintf(stderr, "round %d failed\n", round);
                return 1;
            }
            if (round == 0) continue;   // warm-up: caches and the first process start
            own.push_back(a);
            sibling.push_back(b);
            bare.push_back(c);
        }
    }
    const double dOwn = Median(own), dSibling = Median(sibling), dBare = Median(bare);
    std::printf("register one server in this program's helper: %7.1f ms (median of %d)\n", dOwn * 1000, ROUNDS);
    std::printf("register one server in the sibling's helper:  %7.1f ms\n", dSibling * 1000);
    std::printf("bare start-up of the sibling (/?):            %7.1f ms\n", dBare * 1000);
    std::printf("difference between the two routes:            %7.1f ms\n", (dSibling - dOwn) * 1000);
    OleUninitialize();
    return 0;
}
