// Prepares the demo installation and times, as whole processes in the same
// run, /check against /report, a /repair with nothing left to mend (after
// one that mended) against /check, and ForgeSupport.com against the window
// program for the same report; prints the medians and their ratios.
#include "BenchTiming.h"
#include "common/TestSupport.h"
#include "DemoInstallation.h"
#include <cstdio>
#include <ole2.h>

namespace {
const int ROUNDS = 5;

double Time(const std::string& command)
{
    const double start = BenchSeconds();
    const ProcessOutput run = RunProcess(command);
    const double elapsed = BenchSeconds() - start;
    return run.exitCode > 3 ? -1 : elapsed;
}
}

int main()
{
    if (FAILED(OleInitialize(nullptr))) return 2;
    // The programs of the demo's registry view: this build's; the console
    // twin is 32-bit, so its comparison is made against ForgeSupport.exe.
    const std::string own = "\"" + OwnProgramPath() + "\" ";
    const std::string exe32 = "\"" + TestProgramFolder() + "\\ForgeSupport.exe\" ";
    const std::string com = "\"" + TestProgramFolder() + "\\ForgeSupport.com\" ";
    std::vector<double> checks, reports, repairs, comReports, exeReports;
    bool bOk = true;
    {
        const CTempDir root;
        CDemoInstallation demo(root / "Demo", TestProgramFolder());
        std::string error;
        if (!demo.Prepare(error)) {
            std::fprintf(stderr, "cannot prepare the demo installation: %s\n", error.c_str());
            return 1;
        }
        bOk = Time(own + "/repair") >= 0;   // mends what it can: later repairs have nothing left
        const std::string target = root / "report.txt";
        for (int round = 0; round <= ROUNDS && bOk; ++round) {
            const double check = Time(own + "/check"), report = Time(own + "/report \"" + target + "\"");
            const double repair = Time(own + "/repair");
            const double viaCom = Time(com + "/report \"" + target + "\""), viaExe = Time(exe32 + "/report \"" + target + "\"");
            bOk = check >= 0 && report >= 0 && repair >= 0 && viaCom >= 0 && viaExe >= 0;
            if (round == 0) continue;   // warm-up
            checks.push_back(check);
            reports.push_back(report);
            repairs.push_back(repair);
            comReports.push_back(viaCom);
            exeReports.push_back(viaExe);
        }
        if (!demo.Remove(error)) std::fprintf(stderr, "cannot remove the demo installation: %s\n", error.c_str());
    }
    if (!bOk || checks.empty()) {
        std::fprintf(stderr, "a run failed\n");
        return 1;
    }
    const double check = Median(checks), report = Median(reports), repair = Median(repairs);
    const double viaCom = Median(comReports), viaExe = Median(exeReports);
    std::printf("/check:                          %.3f s (median of %d)\n", check, ROUNDS);
    std::printf("/report:                         %.3f s   /check / /report: %.2f (aim <= 1.1)\n", report, check / report);
    std::printf("/repair, nothing left to mend:   %.3f s   /repair / /check: %.2f (aim <= 1.2)\n", repair, repair / check);
    std::printf("ForgeSupport.com /report:        %.3f s\n", viaCom);
    std::printf("ForgeSupport.exe /report:        %.3f s   .com / .exe: %.2f (aim <= 1.0)\n", viaExe, viaCom / viaExe);
    OleUninitialize();
    return 0;
}
