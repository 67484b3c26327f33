// Puts a copy of the sample class that creates under the name of every
// catalogue DLL and OCX in a System folder of its own, registers them all,
// then times creating the class of every row that has one in one run (the
// engine of "Create classes of all rows" and of /activate), against one bare
// start of the helper's program. The Windows system folder's row is the
// prefix's own server and is created too.
#include "BenchTiming.h"
#include "common/TestSupport.h"
#include "engine/components/Catalogue.h"
#include "engine/components/ClassActivation.h"
#include "engine/components/Registration.h"
#include "engine/components/ServerHost.h"
#include "engine/components/ServerProcess.h"
#include "engine/components/Sibling.h"
#include "engine/components/Verification.h"
#include <ole2.h>
#include <cstdio>
#include <string>
#include <vector>

namespace {
const int ROUNDS = 7;

bool IsInProcessName(const std::string& name)
{
    const std::string tail = name.size() >= 4 ? name.substr(name.size() - 4) : name;
    return lstrcmpiA(tail.c_str(), ".dll") == 0 || lstrcmpiA(tail.c_str(), ".ocx") == 0;
}

std::vector<ComponentItem*> Pointers(const std::vector<std::unique_ptr<ComponentItem>>& records)
{
    std::vector<ComponentItem*> order;
    for (const auto& pItem : records) order.push_back(pItem.get());
    return order;
}
}

int main()
{
    if (FAILED(OleInitialize(nullptr))) return 2;
    const CTempDir temp;
    const std::string system = temp.MakeDir("System");
    CScopedRegValue noCommonFiles(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir",
                                  temp / "Common");
    for (int i = 0; i < g_nCatalogueEntries; ++i)
        if (g_catalogue[i].nKind != KIND_WINDOWS_SYSTEM && IsInProcessName(g_catalogue[i].pszFileName))
            temp.CopyIn(TestProgramFolder() + "\\KvActCreates.dll", std::string("System\\") + g_catalogue[i].pszFileName);

    const VerificationFolders folders{system.c_str(), (temp / "Common").c_str()};
    const std::vector<std::unique_ptr<ComponentItem>> registered = MakeCatalogueRecords();
    std::vector<ComponentItem*> servers;
    for (ComponentItem* pItem : Pointers(registered))
        if (pItem->nKind != KIND_WINDOWS_SYSTEM && IsInProcessName(pItem->strFileName.Str())) servers.push_back(pItem);
    CWorkProgress quiet;
    RegisterRecords(servers, true, folders, quiet);

    std::vector<double> runs, bare;
    int nTried = 0, nCreated = 0, nStarts = 0;
    for (int round = 0; round <= ROUNDS; ++round) {
        // The rows as a verification leaves them: their files looked for.
        const std::vector<std::unique_ptr<ComponentItem>> records = MakeCatalogueRecords();
        const std::vector<ComponentItem*> order = Pointers(records);
        ResolveLocations(order, folders, quiet);
        CServerHosts hosts;
        ActivationOptions options;
        options.pHosts = &hosts;
        const double start = BenchSeconds();
        CreateRecordClasses(order, folders, quiet, options);
        const double elapsed = BenchSeconds() - start;
        const double bareStart = BenchSeconds();
        const bool bEnded = RunHidden(HostProgramPath(), "/?", CString(), "/?", 60000, quiet).bEnded;
        const double bareElapsed = BenchSeconds() - bareStart;
        nTried = nCreated = 0;
        for (const ComponentItem* pItem : order) {
            nTried += pItem->lastActivation.bTried;
            nCreated += pItem->lastActivation.nStage == ACTIVATION_CREATED;
        }
        nStarts = hosts.Starts();
        if (!bEnded || nCreated == 0) {
            std::fprintf(stderr, "round %d failed: %d of %d classes created\n", round, nCreated, nTried);
            RegisterRecords(servers, false, folders, quiet);
            return 1;
        }
        if (round == 0) continue;   // warm-up
        runs.push_back(elapsed);
        bare.push_back(bareElapsed);
    }
    RegisterRecords(servers, false, folders, quiet);

    const double dRun = Median(runs), dBare = Median(bare);
    const double dPerClass = nTried ? (dRun - dBare * nStarts) / nTried : 0;
    std::printf("classes tried / created:                      %d / %d, helper starts: %d\n", nTried, nCreated, nStarts);
    std::printf("creating every row's class in one run:        %7.1f ms (median of %d)\n", dRun * 1000, ROUNDS);
    std::printf("one bare start of %s (/?): %7.1f ms\n", OwnProgramFileName().GetString(), dBare * 1000);
    std::printf("per class beyond the helper starts:           %7.1f ms (aim <= 20)\n", dPerClass * 1000);
    std::printf("the run against its budget (%d starts + 20 ms a class): %.2f (aim <= 1)\n", nStarts,
                dRun / (dBare * nStarts + 0.020 * nTried));
    OleUninitialize();
    return 0;
}
