// Prepares the demo installation under %TEMP%, then times: the diagnosis of
// all 95 catalogue rows (path, file, imports, registration, verdict); the
// reading of one 5 MB module's exports and imports with their resolution;
// and, in the real sheet, the opening of a failing row's details dialog.
// The installation is removed and the registry put back afterwards.
#include "BenchTiming.h"
#include "common/TestSupport.h"
#include "DemoInstallation.h"
#include "engine/components/Catalogue.h"
#include "engine/diagnosis/Diagnosis.h"
#include "res/resource.h"
#include <ole2.h>
#include <commctrl.h>
#include <algorithm>
#include <cstdio>

namespace {
const int ROUNDS = 5;

double Milliseconds()
{
    return 1000.0 * BenchSeconds();
}

double DiagnoseAllRows(const CString& strSystem, const CString& strCommon, int& nSound)
{
    const double start = Milliseconds();
    const CImportResolver resolver;
    nSound = 0;
    for (int i = 0; i < g_nCatalogueEntries; ++i) {
        const CatalogueEntry& entry = g_catalogue[i];
        const CString strPath = ResolveCatalogueLocation(entry.pszFileName, entry.nKind, strSystem, strCommon);
        const ComponentDiagnosis d = DiagnoseComponent(entry.pszFileName, entry.pszProgID, strPath, RegistrationResult(), resolver);
        if (ComponentVerdict(d) == LoadResourceString(IDS_VERDICT_SOUND)) ++nSound;
    }
    return Milliseconds() - start;
}

// Set when the details dialog has been initialised; closes it at once.
double s_dOpened = 0;
LRESULT CALLBACK WatchDetails(int nCode, WPARAM wParam, LPARAM lParam)
{
    const auto* pMsg = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (nCode == HC_ACTION && pMsg->message == WM_INITDIALOG && GetDlgItem(pMsg->hwnd, IDC_DETAILS_TEXT)) {
        s_dOpened = Milliseconds();
        PostMessageA(pMsg->hwnd, WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(nullptr, nCode, wParam, lParam);
}

std::vector<double> OpenDetails(const char* pszRow)
{
    std::vector<double> times;
    HHOOK hHook = SetWindowsHookExA(WH_CALLWNDPROCRET, &WatchDetails, nullptr, GetCurrentThreadId());
    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 1);
        HWND hList = GetDlgItem(hPage, IDC_COMPONENT_LIST);
        ClickButton(hPage, IDC_VERIFY_FILES);
        LVFINDINFOA find = {LVFI_STRING, pszRow, 0, {0, 0}, 0};
        const int nRow = static_cast<int>(SendMessageA(hList, LVM_FINDITEMA, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&find)));
        LVITEMA item = {};
        item.stateMask = item.state = LVIS_FOCUSED | LVIS_SELECTED;
        SendMessageA(hList, LVM_SETITEMSTATE, static_cast<WPARAM>(nRow), reinterpret_cast<LPARAM>(&item));
        SendMessageA(hList, LVM_ENSUREVISIBLE, static_cast<WPARAM>(nRow), FALSE);
        RECT rc = {LVIR_BOUNDS, 0, 0, 0};
        SendMessageA(hList, LVM_GETITEMRECT, static_cast<WPARAM>(nRow), reinterpret_cast<LPARAM>(&rc));
        for (int round = 0; round <= ROUNDS; ++round) {
            s_dOpened = 0;
            const double start = Milliseconds();
            SendMessageA(hList, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(rc.left + 10, (rc.top + rc.bottom) / 2));
            if (s_dOpened > 0 && round > 0) times.push_back(s_dOpened - start);   // round 0 warms up
        }
    });
    UnhookWindowsHookEx(hHook);
    return times;
}
} // namespace

int main()
{
    if (FAILED(OleInitialize(nullptr))) return 2;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    int nResult = 0;
    {
        const CTempDir temp;
        CDemoInstallation demo(temp / "Demo", TestProgramFolder());
        std::string strError;
        std::printf("Preparing the demo installation under %s ...\n", temp.Path().c_str());
        if (!demo.Prepare(strError)) {
            std::printf("cannot prepare the demo installation: %s\n", strError.c_str());
            demo.Remove(strError);
            return 1;
        }
        std::vector<double> rows;
        int nSound = 0;
        for (int round = 0; round <= ROUNDS; ++round) {
            const double d = DiagnoseAllRows(demo.SystemFolder().c_str(), demo.CommonFilesFolder().c_str(), nSound);
            if (round > 0) rows.push_back(d);
        }
        std::printf("diagnosis of all %d rows, row by row: %.1f ms (median of %d; %d rows registered and present)\n",
                    g_nCatalogueEntries, Median(rows), ROUNDS, nSound);
        std::vector<double> batch;
        for (int round = 0; round <= ROUNDS; ++round) {
            const double start = Milliseconds();
            CatalogueVerdicts(demo.SystemFolder().c_str(), demo.CommonFilesFolder().c_str());
            if (round > 0) batch.push_back(Milliseconds() - start);
        }
        std::printf("verdicts of all %d rows with one walk of each tree: %.1f ms (median of %d)\n",
                    g_nCatalogueEntries, Median(batch), ROUNDS);

        const std::string strLarge = TestProgramFolder() + "\\BenchLargeModule.dll";
        std::vector<double> large;
        PeFileInfo info;
        size_t nImports = 0;
        for (int round = 0; round <= ROUNDS; ++round) {
            const double start = Milliseconds();
            info = ReadPeFile(strLarge.c_str());
            const CImportResolver resolver;
            nImports = resolver.Resolve(strLarge.c_str(), info.imports).size();
            if (round > 0) large.push_back(Milliseconds() - start);
        }
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        GetFileAttributesExA(strLarge.c_str(), GetFileExInfoStandard, &data);
        std::printf("one %.1f MB module, %zu exports, %zu imports resolved: %.1f ms (median of %d)\n",
                    data.nFileSizeLow / 1048576.0, info.exports.size(), nImports, Median(large), ROUNDS);

        const std::vector<double> opens = OpenDetails("KfSql.dll");
        std::printf("opening the details of KfSql.dll in the sheet: %.1f ms (median of %zu)\n", Median(opens), opens.size());
        nResult = opens.empty() ? 1 : 0;
        if (!demo.Remove(strError)) std::printf("removing the demo installation: %s\n", strError.c_str());
    }
    OleUninitialize();
    return nResult;
}
