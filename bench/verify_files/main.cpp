// Builds a tool folder tree of 20,000 files in 2,000 folders with the
// catalogue's file names placed in it, then times, in the real sheet, one
// press of "Verify Files Exist" on it, one plain recursive listing of the
// same tree with FindFirstFile/FindNextFile, and one press each of "Register
// Selected" and "Unregister Selected" with every row selected whose file is
// in the trees (none of them a server: the names are empty files).
#include "BenchRows.h"
#include "BenchTiming.h"
#include "common/TestSupport.h"
#include "engine/components/Catalogue.h"
#include "res/resource.h"
#include <ole2.h>
#include <commctrl.h>
#include <prsht.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {
const int TOP_FOLDERS = 50;
const int SUBFOLDERS_EACH = 39;      // 50 + 50 * 39 = 2,000 folders
const int FILES_PER_FOLDER = 10;     // 20,000 files
const int ROUNDS = 3;

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


}

int main()
{
    if (FAILED(OleInitialize(nullptr))) return 2;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    std::vector<double> presses, listings, registers, unregisters;
    long entries = 0;
    int nRows = 0;
    size_t nFolders = 0;
    {
        const CTempDir temp;
        const std::string root = temp / "System";
        std::printf("Building the tree under %s ...\n", root.c_str());
        nFolders = BuildTree(root).size();

        // The press runs in the real sheet, inside its modal loop.
        RunSheet([&](HWND hSheet) {
            HWND hPage = SelectPage(hSheet, 1);
            SetDlgItemTextA(hPage, IDC_SYSTEM_FOLDER, root.c_str());
            // Warm-up: the file system's caches, and the common-files rows' kept paths.
            ListTree(root);
            ClickButton(hPage, IDC_VERIFY_FILES);
            for (int round = 0; round < ROUNDS; ++round) {
                double start = BenchSeconds();
                ClickButton(hPage, IDC_VERIFY_FILES);
                presses.push_back(BenchSeconds() - start);
                start = BenchSeconds();
                entries = ListTree(root);
                listings.push_back(BenchSeconds() - start);
            }
            nRows = SelectTreeRows(GetDlgItem(hPage, IDC_COMPONENT_LIST));
            for (int round = 0; round < ROUNDS; ++round) {
                double start = BenchSeconds();
                ClickButton(hPage, IDC_REGISTER_SELECTED);
                registers.push_back(BenchSeconds() - start);
                start = BenchSeconds();
                ClickButton(hPage, IDC_UNREGISTER_SELECTED);
                unregisters.push_back(BenchSeconds() - start);
            }
        });
    }

    if (!presses.empty()) {
        const double press = Median(presses), listing = Median(listings);
        std::printf("tree: %zu folders, %ld entries listed\n", nFolders, entries);
        std::printf("one press of \"Verify Files Exist\": %.3f s (median of %d)\n", press, ROUNDS);
        std::printf("one plain recursive listing:        %.3f s (median of %d)\n", listing, ROUNDS);
        std::printf("ratio press / listing:              %.2f\n", press / listing);
        const double reg = Median(registers), unreg = Median(unregisters);
        std::printf("\"Register Selected\", %d rows:       %.3f s, %.2f x the Verify press\n", nRows, reg, reg / press);
        std::printf("\"Unregister Selected\", %d rows:     %.3f s, %.2f x the Verify press\n", nRows, unreg, unreg / press);
    }
    OleUninitialize();
    return presses.empty() ? 1 : 0;
}
