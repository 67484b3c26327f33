// Creating the rows' classes from the COM tester: the list's menu creates the
// selected rows' classes in helper processes, the rows' infotips and details
// say how it went, Stop ends a class that never returns, and nothing is left
// running.
#include "PageDriver.h"
#include "common/ActivationSamples.h"
#include "engine/components/ClassActivation.h"
#include "engine/components/ServerHost.h"
#include "engine/components/Verification.h"
#include "engine/diagnosis/Diagnosis.h"
#include "res/resource.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <thread>

using namespace page_driver;
using namespace activation_samples;

namespace {
const int COL_REGISTERED = 2;

// "Create classes of selected rows" stands three items up from the menu's
// end, above "Create classes of all rows" and "Undo last registration change...".
void CALLBACK ChooseCreateSelected(HWND, UINT, UINT_PTR idTimer, DWORD)
{
    HWND hMenu = FindWindowA("#32768", nullptr);
    if (!hMenu || !IsWindowVisible(hMenu)) return;
    KillTimer(nullptr, idTimer);
    for (int i = 0; i < 3; ++i) PostMessageA(hMenu, WM_KEYDOWN, VK_UP, 0);
    PostMessageA(hMenu, WM_KEYDOWN, VK_RETURN, 0);
}

void CreateSelectedFromTheMenu(HWND hPage, HWND hList)
{
    NMITEMACTIVATE click = {};
    click.hdr = {hList, IDC_COMPONENT_LIST, static_cast<UINT>(NM_RCLICK)};
    click.iItem = -1;
    SetTimer(nullptr, 0, 50, &ChooseCreateSelected);
    SendMessageA(hPage, WM_NOTIFY, IDC_COMPONENT_LIST, reinterpret_cast<LPARAM>(&click));
}

HWND FindPrompt()
{
    HWND hPrompt = FindWindowA("#32770", "Still working");
    return hPrompt && IsWindowVisible(hPrompt) ? hPrompt : nullptr;
}

bool NeverReturns(const ActivationSample& sample)
{
    return std::string(sample.pszAs) == "KfCaption.ocx" || std::string(sample.pszAs) == "KfBuildSrv.exe";
}
}

using ActivationPressTest = ActivationSamplesTest;

TEST_F(ActivationPressTest, TheMenuCreatesTheSelectedRowsClassesTwiceAndStopEndsTheOnesThatNeverAnswer)
{
    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 1);
        HWND hList = ListOf(hPage);
        SetFolderBox(hPage, System());
        for (int nRun = 0; nRun < 2; ++nRun) {
            std::vector<std::string> rows;
            for (const ActivationSample& sample : SAMPLES)
                if (!NeverReturns(sample)) rows.push_back(sample.pszAs);
            SelectRows(hList, rows);
            {
                CProgressLog progress(GetDlgItem(hPage, IDC_PROGRESS));
                CreateSelectedFromTheMenu(hPage, hList);
                ASSERT_FALSE(progress.ranges.empty()) << "the bar did not move";
                EXPECT_EQ(std::make_pair(0, static_cast<int>(rows.size())), progress.ranges.front());
                ASSERT_FALSE(progress.positions.empty());
                EXPECT_EQ(0, progress.positions.back());
            }
            for (const ActivationSample& sample : SAMPLES) {
                if (NeverReturns(sample)) continue;
                const std::string tip = InfoTip(hPage, hList, FindRow(hList, sample.pszAs), COL_REGISTERED);
                const std::string expected = sample.pszVerdict ? sample.pszVerdict : "Registered and present\r\nCreating its class was tried: created, ";
                EXPECT_EQ(0u, tip.find(expected)) << sample.pszAs << ": " << tip;
                EXPECT_NE(std::string::npos, tip.find("\r\nCreating its class was tried: ")) << tip;
            }
            EXPECT_TRUE(WaitFor(NothingLeftRunning, 10)) << "a helper or a local server was left running";

            // A class that never returns and a local server that never
            // registers its class object: the prompt's Stop ends each wait.
            for (const char* pszHung : {"KfCaption.ocx", "KfBuildSrv.exe"}) {
                SelectRows(hList, {pszHung});
                std::thread user([] {
                    HWND hPrompt = nullptr;
                    if (WaitFor([&] { return (hPrompt = FindPrompt()) != nullptr; }, 30))
                        PostMessageA(GetDlgItem(hPrompt, IDC_STOP), BM_CLICK, 0, 0);
                });
                CreateSelectedFromTheMenu(hPage, hList);
                user.join();
                const std::string tip = InfoTip(hPage, hList, FindRow(hList, pszHung), COL_REGISTERED);
                EXPECT_EQ(0u, tip.find("Registered and present; creating its class was stopped after ")) << pszHung << ": " << tip;
                EXPECT_NE(std::string::npos, tip.find("at the user's request")) << tip;
                EXPECT_TRUE(WaitFor(NothingLeftRunning, 10)) << pszHung << ": something was left running";
            }
        }
    });
}

TEST_F(ActivationPressTest, OneHelperPerBitnessUnlessAClassTakesItDownAndTheDetailsShowTheStageAndTime)
{
    std::vector<std::unique_ptr<ComponentItem>> records = MakeCatalogueRecords();
    std::vector<ComponentItem*> order;
    for (const ActivationSample& sample : SAMPLES)
        for (const auto& pItem : records)
            if (!NeverReturns(sample) && pItem->strFileName == sample.pszAs) order.push_back(pItem.get());
    ASSERT_EQ(7u, order.size());
    int nStarts = 0;
    {
        CServerHosts hosts;
        ActivationOptions options;
        options.pHosts = &hosts;
        CWorkProgress quiet;
        CreateRecordClasses(order, VerificationFolders{System().c_str(), (m_dir / "Common").c_str()}, quiet, options);
        nStarts = hosts.Starts();
    }
    // This bitness's helper, its replacement after the fault, and the sibling.
    EXPECT_EQ(3, nStarts);
    EXPECT_TRUE(WaitFor(NothingLeftRunning, 10));
    const CImportResolver resolver;
    const auto details = [&](const char* pszAs) {
        for (const ComponentItem* pItem : order) {
            if (pItem->strFileName != pszAs) continue;
            ComponentDiagnosis d = DiagnoseComponent(pItem->strFileName, pItem->strProgID, pItem->strLocation, pItem->lastAction, resolver);
            d.activation = pItem->lastActivation;
            return std::string(FormatComponentDiagnosis(d).Str());
        }
        return std::string();
    };
    EXPECT_NE(std::string::npos, details("KfBuild.dll").find("Creating its class\r\n  Stage reached: CreateInstance; result 0x8007000E ")) << details("KfBuild.dll");
    EXPECT_NE(std::string::npos, details("KfAutomate.dll").find("Creating its class\r\n  Stage reached: created; result 0x00000000 "));
    EXPECT_NE(std::string::npos, details("KfColor.ocx").find("  Run by: " + SiblingProgramPath().Str())) << details("KfColor.ocx");
    // The local server that COM started stays after the release: it was ended.
    EXPECT_NE(std::string::npos, details("KvAgent.exe").find("was still running afterwards and was ended (1 processes)")) << details("KvAgent.exe");
}
