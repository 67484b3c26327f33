// Builds a tool folder tree of 20,000 files in 2,000 folders in which every
// catalogue DLL and OCX is a real sample server, then times in the real
// sheet one press of "Verify Files Exist" and one of "Register Selected"
// over every row found in the tree, each server run in the helper process
// of its bitness. Then, for one server, times its registration run in this
// process (what the utility did before), in a helper process of its own (a
// lone call: the helper started and ended for it), and one bare start of
// the helper's program, and ForgeSupport.com /repair mending that one server.
#include "BenchRows.h"
#include "BenchTiming.h"
#include "common/TestSupport.h"
#include "engine/components/Catalogue.h"
#include "engine/components/Registration.h"
#include "engine/components/Verification.h"
#include "engine/undo/UndoJournal.h"
#include "engine/components/SelfRegistration.h"
#include "engine/components/ServerProcess.h"
#include "engine/components/Sibling.h"
#include "res/resource.h"
#include <ole2.h>
#include <commctrl.h>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {
const int TOP_FOLDERS = 50;
const int SUBFOLDERS_EACH = 39;      // 50 + 50 * 39 = 2,000 folders
const int FILES_PER_FOLDER = 10;     // 20,000 files
const int PRESS_ROUNDS = 3;
const int ONE_ROUNDS = 9;

bool IsInProcessName(const std::string& name)
{
    const std::string tail = name.size() >= 4 ? name.substr(name.size() - 4) : name;
    return lstrcmpiA(tail.c_str(), ".dll") == 0 || lstrcmpiA(tail.c_str(), ".ocx") == 0;
}

// Every folder gets its files; each catalogue DLL or OCX is placed once, as
// a copy of the sample server, in a folder of its own choosing.
int BuildTree(const std::string& root, const std::string& server)
{
    std::vector<std::string> folders;
    CreateDirectoryA(root.c_str(), nullptr);
    for (int t = 0; t < TOP_FOLDERS; ++t) {
        folders.push_back(root + "\\Group" + std::to_string(t));
        CreateDirectoryA(folders.back().c_str(), nullptr);
        const std::string top = folders.back();
        for (int s = 0; s < SUBFOLDERS_EACH; ++s) {
            folders.push_back(top + "\\Part" + std::to_string(s));
            CreateDirectoryA(folders.back().c_str(), nullptr);
        }
    }
    int nServers = 0;
    for (int i = 0; i < g_nCatalogueEntries; ++i) {
        const CatalogueEntry& entry = g_catalogue[i];
        if (entry.nKind == KIND_WINDOWS_SYSTEM || !IsInProcessName(entry.pszFileName)) continue;
        const std::string folder = folders[(static_cast<size_t>(i) * 37) % folders.size()];
        nServers += CopyFileA(server.c_str(), (folder + "\\" + entry.pszFileName).c_str(), FALSE) != FALSE;
    }
    for (const std::string& folder : folders)
        for (int n = 0; n < FILES_PER_FOLDER; ++n) {
            HANDLE hFile = CreateFileA((folder + "\\data" + std::to_string(n) + ".bin").c_str(), GENERIC_WRITE, 0, nullptr,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (hFile != INVALID_HANDLE_VALUE) CloseHandle(hFile);
        }
    return nServers;
}


// Seconds one call takes; negative when it did not succeed.
double TimeCall(const std::function<bool()>& call)
{
    const double start = BenchSeconds();
    const bool bDone = call();
    const double elapsed = BenchSeconds() - start;
    return bDone ? elapsed : -1;
}

// The press's engine alone, without the sheet and without the undo
// recording: every server run in the helpers, or (as before) in this process.
double EnginePress(const std::string& root, bool bInThisProcess, bool bRecorded = false)
{
    const std::vector<std::unique_ptr<ComponentItem>> records = MakeCatalogueRecords();
    std::vector<ComponentItem*> selected;
    for (const auto& pItem : records)
        if (pItem->nKind != KIND_WINDOWS_SYSTEM) selected.push_back(pItem.get());
    CWorkProgress quiet;
    RunOptions options;
    options.bInThisProcess = bInThisProcess;
    const VerificationFolders folders{root.c_str(), ""};
    CChangeRecording recording("Register Selected");
    if (bRecorded) options.pRecording = &recording;
    const double start = BenchSeconds();
    RegisterRecords(selected, true, folders, quiet, options);
    const double elapsed = BenchSeconds() - start;
    options.pRecording = nullptr;
    RegisterRecords(selected, false, folders, quiet, options);
    return elapsed;
}

bool PressesBeatVerify(std::vector<double>& verifies, std::vector<double>& registers, int& nRows, int& nServers,
                       std::vector<double>& helpers, std::vector<double>& heres, std::vector<double>& recorded)
{
    const CTempDir temp;
    const std::string root = temp / "System";
    std::printf("Building the tree under %s ...\n", root.c_str());
    nServers = BuildTree(root, TestProgramFolder() + "\\ForgeSampleServer.dll");
    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 1);
        SetDlgItemTextA(hPage, IDC_SYSTEM_FOLDER, root.c_str());
        ClickButton(hPage, IDC_VERIFY_FILES);   // warm-up: caches and the kept paths
        nRows = SelectTreeRows(GetDlgItem(hPage, IDC_COMPONENT_LIST));
        for (int round = 0; round < PRESS_ROUNDS; ++round) {
            verifies.push_back(TimeCall([&] { ClickButton(hPage, IDC_VERIFY_FILES); return true; }));
            registers.push_back(TimeCall([&] { ClickButton(hPage, IDC_REGISTER_SELECTED); return true; }));
            ClickButton(hPage, IDC_UNREGISTER_SELECTED);
        }
    });
    for (int round = 0; round < PRESS_ROUNDS; ++round) {
        helpers.push_back(EnginePress(root, false));
        heres.push_back(EnginePress(root, true));
        recorded.push_back(EnginePress(root, false, true));
    }
    return !verifies.empty();
}
}

int main()
{
    if (FAILED(OleInitialize(nullptr))) return 2;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    std::vector<double> verifies, registers, helpers, heres, recorded;
    int nRows = 0, nServers = 0;
    if (!PressesBeatVerify(verifies, registers, nRows, nServers, helpers, heres, recorded)) return 1;
    const double verify = Median(verifies), reg = Median(registers);
    std::printf("one press of \"Verify Files Exist\":            %.3f s (median of %d)\n", verify, PRESS_ROUNDS);
    std::printf("\"Register Selected\", %d rows, %d servers:     %.3f s, %.2f x the Verify press (aim <= 1.5)\n", nRows,
                nServers, reg, reg / verify);
    std::printf("its engine without the undo recording:        %.3f s; servers run in this process: %.3f s\n",
                Median(helpers), Median(heres));
    std::printf("its engine with the undo recording:           %.3f s\n", Median(recorded));

    std::vector<double> here, helper, bare, repairs;
    {
        const CTempDir temp;
        const CString strPath = temp.CopyIn(TestProgramFolder() + "\\ForgeSampleServer.dll", "One\\KfBuild.dll").c_str();
        // ForgeSupport.com is 32-bit: the 32-bit sample is its own bitness's.
        const std::string system32 = temp.MakeDir("Repair");
        const CString strRepaired =
            temp.CopyIn(TestProgramFolder() + (sizeof(void*) == 8 ? "\\SampleOtherBitness.dll" : "\\ForgeSampleServer.dll"),
                        "Repair\\KfBuild.dll").c_str();
        const std::string repair = "\"" + TestProgramFolder() + "\\ForgeSupport.com\" /repair /folder \"" + system32 + "\"";
        RunOptions inThisProcess;
        inThisProcess.bInThisProcess = true;
        CWorkProgress quiet;
        for (int round = 0; round <= ONE_ROUNDS; ++round) {
            const double a = TimeCall([&] { return RegisterServerFile(strPath, true, nullptr, inThisProcess); });
            RegisterServerFile(strPath, false, nullptr, inThisProcess);
            const double b = TimeCall([&] { return RegisterServerFile(strPath, true); });
            RegisterServerFile(strPath, false);
            const double c = TimeCall([&] { return RunHidden(HostProgramPath(), "/?", CString(), "/?", 60000, quiet).bEnded; });
            const double d = TimeCall([&] { return RunProcess(repair).exitCode <= 1; });
            RegisterServerFile(strRepaired, false);
            if (a < 0 || b < 0 || c < 0 || d < 0) {
                std::fprintf(stderr, "round %d failed\n", round);
                return 1;
            }
            if (round == 0) continue;   // warm-up
            here.push_back(a);
            helper.push_back(b);
            bare.push_back(c);
            repairs.push_back(d);
        }
    }
    const double dHere = Median(here), dHelper = Median(helper), dBare = Median(bare);
    std::printf("one server run in this process (before):      %7.1f ms (median of %d)\n", dHere * 1000, ONE_ROUNDS);
    std::printf("one server run in a helper of its own:        %7.1f ms\n", dHelper * 1000);
    std::printf("the isolation's extra cost:                   %7.1f ms\n", (dHelper - dHere) * 1000);
    std::printf("one bare start of %s (/?): %7.1f ms   extra / start: %.2f (aim <= 1)\n",
                OwnProgramFileName().GetString(), dBare * 1000, (dHelper - dHere) / dBare);
    std::printf("ForgeSupport.com /repair mending one server:  %7.1f ms\n", Median(repairs) * 1000);
    OleUninitialize();
    return 0;
}
