// A machine's worth of classes: 76,000 classes in each view of the machine's
// CLSID key (two keys and two values each, over 300,000 keys with the
// prefix's own), aged past any snapshot's margin. Then, three rounds of the
// 32-bit console twin as a fleet runs it: /check, and /repair of one 32-bit
// server, timed, with the repair's peak working set; and a plain walk of the
// same keys. The aim: the repair beyond the check costs at most 1.5 plain
// walks, and the repair stays within 160 MiB. Every generated key, the
// server's registration and the undo files are removed again.
#include "BenchTiming.h"
#include "BenchUndoFolder.h"
#include "BenchWalk.h"
#include "common/TestSupport.h"
#include <psapi.h>
#include <cstdio>
#include <string>

namespace {
const int CLASSES_PER_VIEW = 76000;
const int ROUNDS = 3;
const double AIM_WALKS = 1.5;
const double AIM_MIB = 160;

std::wstring ClassName(int i)
{
    wchar_t szName[64];
    swprintf(szName, 64, L"{4B564D53-4E41-5000-8000-%012X}", i);
    return szName;
}

bool SetDefault(HKEY hKey, const std::wstring& strText)
{
    return RegSetValueExW(hKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(strText.c_str()),
                          static_cast<DWORD>((strText.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// The generated classes of one view, made or deleted.
bool MakeClasses(REGSAM view)
{
    CRegKey clsid;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\CLSID", 0, KEY_CREATE_SUB_KEY | view, clsid.Receive()) != ERROR_SUCCESS)
        return false;
    for (int i = 0; i < CLASSES_PER_VIEW; ++i) {
        CRegKey cls, server;
        if (RegCreateKeyExW(clsid.Get(), ClassName(i).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, cls.Receive(), nullptr) !=
                ERROR_SUCCESS ||
            !SetDefault(cls.Get(), L"Kelvara machine-size class " + std::to_wstring(i)) ||
            RegCreateKeyExW(cls.Get(), L"InprocServer32", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, server.Receive(), nullptr) !=
                ERROR_SUCCESS ||
            !SetDefault(server.Get(), L"C:\\Program Files\\Kelvara\\Machine\\KvMachine" + std::to_wstring(i % 977) + L".dll"))
            return false;
    }
    return true;
}

void DeleteClasses(REGSAM view)
{
    CRegKey clsid;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes\\CLSID", 0, KEY_ALL_ACCESS | view, clsid.Receive()) != ERROR_SUCCESS)
        return;
    for (int i = 0; i < CLASSES_PER_VIEW; ++i) {
        const std::wstring strName = ClassName(i);
        if (RegDeleteTreeW(clsid.Get(), strName.c_str()) == ERROR_FILE_NOT_FOUND && i > 0) break;
        RegDeleteKeyExW(clsid.Get(), strName.c_str(), view, 0);
    }
}

// The generated classes in both views, removed however the run ends.
struct CMachineTree {
    CMachineTree() { Delete(); }
    ~CMachineTree() { Delete(); }
    static void Delete()
    {
        DeleteClasses(KEY_WOW64_64KEY);
        DeleteClasses(KEY_WOW64_32KEY);
    }
};

struct Run {
    DWORD dwExitCode = 0;
    double dSeconds = 0;
    double dPeakMiB = 0;
    std::string out;
};

// Runs the twin hidden, its standard output kept, its working set sampled
// while it runs: the system's own peak for it, as last seen.
Run RunTwin(const std::string& strArguments)
{
    // A name of its own each run: the console host of a run that has ended
    // may hold the last one's handle a moment longer.
    static int s_nRun = 0;
    Run run;
    const std::string strOut = TestProgramFolder() + "\\machine-bench-out-" + std::to_string(++s_nRun) + ".txt";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE hOut = CreateFileA(strOut.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    std::string command = "\"" + TestProgramFolder() + "\\ForgeSupport.com\" " + strArguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = hOut;
    startup.hStdError = hOut;
    PROCESS_INFORMATION info = {};
    const double dStart = BenchSeconds();
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info)) {
        CloseHandle(hOut);
        return run;
    }
    SIZE_T nPeak = 0;
    do {
        PROCESS_MEMORY_COUNTERS counters = {};
        if (GetProcessMemoryInfo(info.hProcess, &counters, sizeof counters)) nPeak = std::max(nPeak, counters.PeakWorkingSetSize);
    } while (WaitForSingleObject(info.hProcess, 20) == WAIT_TIMEOUT);
    run.dSeconds = BenchSeconds() - dStart;
    run.dPeakMiB = static_cast<double>(nPeak) / 1048576.0;
    GetExitCodeProcess(info.hProcess, &run.dwExitCode);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    CloseHandle(hOut);
    run.out = ReadFileText(strOut);
    DeleteFileA(strOut.c_str());
    return run;
}

// The undo file a /repair line names.
std::string UndoFileOf(const std::string& strLine)
{
    const std::string lead = "\"undo\":{\"file\":\"";
    const size_t nStart = strLine.find(lead);
    if (nStart == std::string::npos) return "";
    std::string path;
    for (size_t i = nStart + lead.size(); i < strLine.size() && strLine[i] != '"'; ++i) {
        if (strLine[i] == '\\' && i + 1 < strLine.size()) ++i;
        path += strLine[i];
    }
    return path;
}
}

int main()
{
    std::printf("Making %d classes in each view of the machine's CLSID key...\n", CLASSES_PER_VIEW);
    std::fflush(stdout);
    CMachineTree tree;
    if (!MakeClasses(KEY_WOW64_64KEY) || !MakeClasses(KEY_WOW64_32KEY)) {
        std::printf("The classes could not be made.\n");
        return 1;
    }
    Sleep(3000);   // older than any snapshot's margin, as a machine's classes are
    CTempDir dir;
    const std::string system = dir.MakeDir("System");
    // The x64 build's 32-bit sample: the twin's own bitness.
    dir.CopyIn(TestProgramFolder() + "\\SampleOtherBitness.dll", "System\\KfBuild.dll");
    CScopedRegValue common(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir", dir / "Common");
    const CUndoFolderGuard undoFolder;

    std::vector<double> walks, checks, repairs, peaks, checkPeaks;
    WalkCount count;
    for (int round = 0; round < ROUNDS; ++round) {
        const double dWalk = BenchSeconds();
        count = WalkRoots();
        walks.push_back(BenchSeconds() - dWalk);
        const Run check = RunTwin("/check /folder \"" + system + "\"");
        checks.push_back(check.dSeconds);
        checkPeaks.push_back(check.dPeakMiB);
        const Run repair = RunTwin("/repair /folder \"" + system + "\"");
        repairs.push_back(repair.dSeconds);
        peaks.push_back(repair.dPeakMiB);
        const std::string undo = UndoFileOf(repair.out);
        if (undo.empty()) {
            std::printf("The repair wrote no undo file (exit code %lu): %s\n", repair.dwExitCode, repair.out.c_str());
            return 1;
        }
        RunTwin("/undo \"" + undo + "\"");
        undoFolder.RemoveAdded();
    }

    // The outputs a console host held on to while they were deleted.
    WIN32_FIND_DATAA left = {};
    HANDLE hFind = FindFirstFileA((TestProgramFolder() + "\\machine-bench-out-*.txt").c_str(), &left);
    if (hFind != INVALID_HANDLE_VALUE) {
        do DeleteFileA((TestProgramFolder() + "\\" + left.cFileName).c_str());
        while (FindNextFileA(hFind, &left));
        FindClose(hFind);
    }

    const double dWalk = Median(walks), dCheck = Median(checks), dRepair = Median(repairs);
    const double dRatio = (dRepair - dCheck) / dWalk;
    double dPeak = 0;
    for (double d : peaks) dPeak = std::max(dPeak, d);
    std::printf("Covered roots: %zu keys, %zu values (medians of %d rounds)\n", count.nKeys, count.nValues, ROUNDS);
    std::printf("%-52s %9.2f s\n", "plain walk of the same keys", dWalk);
    std::printf("%-52s %9.2f s  (peak %.0f MiB)\n", "ForgeSupport.com /check", dCheck, Median(checkPeaks));
    std::printf("%-52s %9.2f s\n", "ForgeSupport.com /repair of one server", dRepair);
    std::printf("%-52s %9.2f walks  (aim <= %.1f: %s)\n", "repair beyond the check", dRatio, AIM_WALKS,
                dRatio <= AIM_WALKS ? "met" : "missed");
    std::printf("%-52s %9.0f MiB    (aim <= %.0f: %s)\n", "repair's peak working set, highest of the rounds", dPeak, AIM_MIB,
                dPeak <= AIM_MIB ? "met" : "missed");
    return 0;
}
