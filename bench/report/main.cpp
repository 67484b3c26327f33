// Prepares the demo installation, then times, each from a fresh start, one
// run of "ForgeSupport.exe /report" as a process (start-up included) and one
// press of "Verify COM Information" and of "Verify Files Exist" in the real
// sheet; prints the medians and their ratio, and removes the installation.
#include "BenchTiming.h"
#include "common/TestSupport.h"
#include "DemoInstallation.h"
#include "res/resource.h"
#include <ole2.h>
#include <commctrl.h>
#include <algorithm>
#include <cstdio>

namespace {
const int ROUNDS = 5;

// One report run, from process creation to its end; negative on failure.
double TimeReport(const std::string& target)
{
    std::string command = "\"" + OwnProgramPath() + "\" /report \"" + target + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    const double start = BenchSeconds();
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    const double elapsed = BenchSeconds() - start;
    DWORD dwExit = 0;
    GetExitCodeProcess(process.hProcess, &dwExit);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return dwExit == 74 || dwExit == 64 ? -1 : elapsed;
}

// Both Verify presses in a fresh sheet, so that nothing is kept from earlier.
double TimePresses()
{
    double elapsed = -1;
    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 1);
        const double start = BenchSeconds();
        ClickButton(hPage, IDC_VERIFY_COM);
        ClickButton(hPage, IDC_VERIFY_FILES);
        elapsed = BenchSeconds() - start;
    });
    return elapsed;
}
}

int main()
{
    if (FAILED(OleInitialize(nullptr))) return 2;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    std::vector<double> reports, presses;
    {
        const CTempDir temp;
        CDemoInstallation demo(temp / "Demo", TestProgramFolder());
        std::string error;
        if (!demo.Prepare(error)) {
            std::fprintf(stderr, "demo installation: %s\n", error.c_str());
            return 1;
        }
        // Warm-up: the file system's caches and the loader's.
        TimeReport(temp / "report.txt");
        TimePresses();
        for (int round = 0; round < ROUNDS; ++round) {
            reports.push_back(TimeReport(temp / "report.txt"));
            presses.push_back(TimePresses());
        }
        if (!demo.Remove(error)) std::fprintf(stderr, "demo removal: %s\n", error.c_str());
    }
    OleUninitialize();
    if (std::find_if(reports.begin(), reports.end(), [](double t) { return t < 0; }) != reports.end()) return 1;

    const double report = Median(reports), press = Median(presses);
    std::printf("one report run, start-up included:          %.3f s (median of %d)\n", report, ROUNDS);
    std::printf("one press of each Verify button in the sheet: %.3f s (median of %d)\n", press, ROUNDS);
    std::printf("ratio report / presses:                      %.2f\n", report / press);
    return 0;
}
