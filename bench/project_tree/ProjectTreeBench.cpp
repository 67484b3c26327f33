// Times "&Test Project" on generated projects of 1,000, 10,000 and 100,000
// features six levels deep, through the in-process sample server, and counts
// the COM calls the server received per feature; then times the next test
// after the largest one, which starts by clearing its tree.
#include "BenchTiming.h"
#include "common/TestSupport.h"
#include "res/resource.h"
#include <commctrl.h>
#include <ole2.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {
using EntryPoint = HRESULT(STDAPICALLTYPE*)();
using CountsEntry = void(WINAPI*)(LONG*, LONG*);
const int ROUNDS = 3;

template <class T>
T Export(HMODULE hModule, const char* pszName)
{
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(hModule, pszName)));
}

// count features in groups of six nested ones: six levels deep.
std::string GenerateProject(int count)
{
    std::string text = "type 3\n";
    for (int i = 0; i < count; ++i)
        text += std::string(static_cast<size_t>(i % 6) * 2, ' ') + "feature Feature " + std::to_string(i) + "\n";
    return text;
}

double PressMilliseconds(HWND hPage, const std::string& path)
{
    SetDlgItemTextA(hPage, IDC_PROJECT_PATH, path.c_str());
    LARGE_INTEGER freq, start, end;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&start);
    ClickButton(hPage, IDC_TEST_PROJECT);
    QueryPerformanceCounter(&end);
    return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(freq.QuadPart);
}

// One round: a fresh sheet, one timed test of the project, then (when asked)
// two timed tests of a one-feature project: the first clears the big tree,
// the second only a one-feature tree, so their difference is the clearing.
struct Round {
    double msTest = 0, msNext = 0, msSmall = 0;
    LONG nMethods = 0, nRefs = 0;
    int nErrors = 0;
};

Round RunRound(const std::string& path, const std::string& smallPath, CountsEntry pfnCounts)
{
    Round round;
    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 2);
        LONG methodsBefore = 0, refsBefore = 0, methodsAfter = 0, refsAfter = 0;
        pfnCounts(&methodsBefore, &refsBefore);
        round.msTest = PressMilliseconds(hPage, path);
        pfnCounts(&methodsAfter, &refsAfter);
        round.nMethods = methodsAfter - methodsBefore;
        round.nRefs = refsAfter - refsBefore;
        round.nErrors = ListView_GetItemCount(GetDlgItem(hPage, IDC_ERROR_LIST));
        if (smallPath.empty()) return;
        round.msNext = PressMilliseconds(hPage, smallPath);
        round.msSmall = PressMilliseconds(hPage, smallPath);
    });
    return round;
}

void Measure(int count, bool timeClearing, CountsEntry pfnCounts)
{
    CTempDir dir;
    const std::string path = dir.MakeFile("bench.kvp", GenerateProject(count));
    const std::string smallPath = timeClearing ? dir.MakeFile("small.kvp", GenerateProject(1)) : std::string();
    std::vector<double> tests, clearings;
    Round round;
    for (int i = 0; i < ROUNDS; ++i) {
        round = RunRound(path, smallPath, pfnCounts);
        tests.push_back(round.msTest);
        clearings.push_back(round.msNext - round.msSmall);
    }
    const double ms = Median(tests);
    std::printf("%7d features: %9.1f ms (%6.2f us/feature), %5.2f COM calls/feature (+%5.2f AddRef/Release), %d error lines\n",
                count, ms, 1000.0 * ms / count, static_cast<double>(round.nMethods) / count,
                static_cast<double>(round.nRefs) / count, round.nErrors);
    if (timeClearing)
        std::printf("%7d features cleared by the next test: %9.1f ms\n", count, Median(clearings));
}
}

int main()
{
    if (FAILED(OleInitialize(nullptr))) return 2;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    HMODULE hServer = LoadLibraryA((TestProgramFolder() + "\\TorvexAppServices.dll").c_str());
    auto pfnRegister = hServer ? Export<EntryPoint>(hServer, "DllRegisterServer") : nullptr;
    auto pfnUnregister = hServer ? Export<EntryPoint>(hServer, "DllUnregisterServer") : nullptr;
    auto pfnCounts = hServer ? Export<CountsEntry>(hServer, "TorvexGetCallCounts") : nullptr;
    if (!pfnRegister || !pfnUnregister || !pfnCounts || FAILED(pfnRegister())) {
        std::printf("cannot register TorvexAppServices.dll\n");
        return 1;
    }
    std::printf("median of %d rounds, each in a fresh sheet\n", ROUNDS);
    for (int count : {1000, 10000, 100000}) Measure(count, count == 100000, pfnCounts);
    pfnUnregister();
    FreeLibrary(hServer);
    OleUninitialize();
    return 0;
}
