// Times "&Test Project" on generated projects of 1,000, 10,000 and 100,000
// features six levels deep, through the in-process sample server, and counts
// the COM calls the server received per feature.
#include "common/TestSupport.h"
#include "res/resource.h"
#include <commctrl.h>
#include <ole2.h>
#include <cstdio>
#include <string>

namespace {
using EntryPoint = HRESULT(STDAPICALLTYPE*)();
using CountsEntry = void(WINAPI*)(LONG*, LONG*);

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

void Measure(int count, CountsEntry pfnCounts)
{
    CTempDir dir;
    const std::string path = dir.MakeFile("bench.kvp", GenerateProject(count));
    double ms = 0;
    LONG methodsBefore = 0, refsBefore = 0, methodsAfter = 0, refsAfter = 0;
    int errors = 0;
    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 2);
        SetDlgItemTextA(hPage, IDC_PROJECT_PATH, path.c_str());
        pfnCounts(&methodsBefore, &refsBefore);
        LARGE_INTEGER freq, start, end;
        QueryPerformanceFrequency(&freq);
        QueryPerformanceCounter(&start);
        ClickButton(hPage, IDC_TEST_PROJECT);
        QueryPerformanceCounter(&end);
        pfnCounts(&methodsAfter, &refsAfter);
        ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(freq.QuadPart);
        errors = ListView_GetItemCount(GetDlgItem(hPage, IDC_ERROR_LIST));
    });
    std::printf("%7d features: %9.1f ms (%6.2f us/feature), %5.2f COM calls/feature (+%5.2f AddRef/Release), %d error lines\n",
                count, ms, 1000.0 * ms / count, static_cast<double>(methodsAfter - methodsBefore) / count,
                static_cast<double>(refsAfter - refsBefore) / count, errors);
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
    for (int count : {1000, 10000, 100000}) Measure(count, pfnCounts);
    pfnUnregister();
    FreeLibrary(hServer);
    OleUninitialize();
    return 0;
}
