// Builds a tool folder tree of 20,000 files in 2,000 folders with the
// catalogue's file names placed in it, then times, in the real sheet, one
// press of "Verify Files Exist" on it, and one plain recursive listing of the
// same tree with FindFirstFile/FindNextFile.
#include "app/SupportSheet.h"
#include "comtester/Catalogue.h"
#include "res/resource.h"
#include <ole2.h>
#include <commctrl.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {
const int TOP_FOLDERS = 50;
const int SUBFOLDERS_EACH = 39;      // 50 + 50 * 39 = 2,000 folders
const int FILES_PER_FOLDER = 10;     // 20,000 files
const int ROUNDS = 3;

double Seconds()
{
    static LARGE_INTEGER frequency = [] { LARGE_INTEGER f; QueryPerformanceFrequency(&f); return f; }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void MakeFile(const std::string& path)
{
    HANDLE hFile = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile != INVALID_HANDLE_VALUE) CloseHandle(hFile);
}

// Every folder gets its files; the catalogue's names replace filler files,
// each name in two folders so that the search meets duplicates.
std::vector<std::string> BuildTree(const std::string& root)
{
    std::vector<std::string> folders;
    CreateDirectoryA(root.c_str(), nullptr);
    for (int t = 0; t < TOP_FOLDERS; ++t) {
        const std::string top = root + "\\Group" + std::to_string(t);
        CreateDirectoryA(top.c_str(), nullptr);
        folders.push_back(top);
        for (int s = 0; s < SUBFOLDERS_EACH; ++s) {
            folders.push_back(top + "\\Part" + std::to_string(s));
            CreateDirectoryA(folders.back().c_str(), nullptr);
        }
    }
    std::vector<std::vector<std::string>> names(folders.size());
    for (int i = 0; i < g_nCatalogueEntries; ++i) {
        names[(static_cast<size_t>(i) * 37) % folders.size()].push_back(g_catalogue[i].pszFileName);
        names[(static_cast<size_t>(i) * 53 + 11) % folders.size()].push_back(g_catalogue[i].pszFileName);
    }
    for (size_t f = 0; f < folders.size(); ++f) {
        for (int n = 0; n < FILES_PER_FOLDER; ++n) {
            const bool placed = static_cast<size_t>(n) < names[f].size();
            MakeFile(folders[f] + "\\" + (placed ? names[f][static_cast<size_t>(n)] : "data" + std::to_string(n) + ".bin"));
        }
    }
    return folders;
}

void RemoveTree(const std::string& path)
{
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA((path + "\\*.*").c_str(), &data);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = data.cFileName;
            if (name == "." || name == "..") continue;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(path + "\\" + name);
            else DeleteFileA((path + "\\" + name).c_str());
        } while (FindNextFileA(hFind, &data));
        FindClose(hFind);
    }
    RemoveDirectoryA(path.c_str());
}

// The cost floor of any search: every folder listed once.
long ListTree(const std::string& folder)
{
    long entries = 0;
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA((folder + "\\*.*").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE) return 0;
    do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..") continue;
        ++entries;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) entries += ListTree(folder + "\\" + name);
    } while (FindNextFileA(hFind, &data));
    FindClose(hFind);
    return entries;
}

struct Run {
    std::string root;
    std::vector<double> presses, listings;
    long entries = 0;
    CSupportSheet* pSheet = nullptr;
};
Run* s_pRun = nullptr;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Runs inside the sheet's modal loop, where the page's button handler runs.
void CALLBACK Measure(HWND, UINT, UINT_PTR idEvent, DWORD)
{
    KillTimer(nullptr, idEvent);
    HWND hSheet = s_pRun->pSheet->GetSafeHwnd();
    PropSheet_SetCurSel(hSheet, nullptr, 1);
    HWND hPage = PropSheet_IndexToHwnd(hSheet, 1);
    SetDlgItemTextA(hPage, IDC_SYSTEM_FOLDER, s_pRun->root.c_str());
    HWND hButton = GetDlgItem(hPage, IDC_VERIFY_FILES);

    // Warm-up: the file system's caches, and the common-files rows' kept paths.
    ListTree(s_pRun->root);
    SendMessageA(hButton, BM_CLICK, 0, 0);
    for (int round = 0; round < ROUNDS; ++round) {
        double start = Seconds();
        SendMessageA(hButton, BM_CLICK, 0, 0);
        s_pRun->presses.push_back(Seconds() - start);
        start = Seconds();
        s_pRun->entries = ListTree(s_pRun->root);
        s_pRun->listings.push_back(Seconds() - start);
    }
    PropSheet_PressButton(hSheet, PSBTN_CANCEL);
}
}

int main()
{
    if (FAILED(OleInitialize(nullptr))) return 2;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    char szTemp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, szTemp);
    Run run;
    run.root = std::string(szTemp) + "forge-bench-" + std::to_string(GetCurrentProcessId());
    std::printf("Building the tree under %s ...\n", run.root.c_str());
    const std::vector<std::string> folders = BuildTree(run.root);

    CSupportSheet sheet(LoadResourceString(IDS_SHEET_CAPTION), nullptr, 0);
    run.pSheet = &sheet;
    s_pRun = &run;
    SetTimer(nullptr, 0, 1, &Measure);
    sheet.DoModal();
    s_pRun = nullptr;

    if (!run.presses.empty()) {
        const double press = Median(run.presses), listing = Median(run.listings);
        std::printf("tree: %zu folders, %ld entries listed\n", folders.size(), run.entries);
        std::printf("one press of \"Verify Files Exist\": %.3f s (median of %d)\n", press, ROUNDS);
        std::printf("one plain recursive listing:        %.3f s (median of %d)\n", listing, ROUNDS);
        std::printf("ratio press / listing:              %.2f\n", press / listing);
    }
    RemoveTree(run.root);
    OleUninitialize();
    return run.presses.empty() ? 1 : 0;
}
