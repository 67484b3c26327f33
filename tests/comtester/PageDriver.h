#pragma once
// Reading and driving the COM tester page's real controls in tests.
#include "common/TestSupport.h"
#include <windows.h>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace page_driver {
HWND ListOf(HWND hPage);
std::string Cell(HWND hList, int row, int column);
std::vector<std::string> Column(HWND hList, int column);
// The row whose file name is 'name'; -1 when there is none.
int FindRow(HWND hList, const std::string& name);
// Clicks a column header with the mouse, as a user does.
void ClickHeader(HWND hList, int column);
// Selects exactly the rows with these file names.
void SelectRows(HWND hList, const std::vector<std::string>& names);
std::string FolderBox(HWND hPage);
void SetFolderBox(HWND hPage, const std::string& text);
// The centre of a cell, in the list's client coordinates.
POINT CellCentre(HWND hList, int row, int column);
// The infotip text the page gives for a row with the mouse over a cell.
std::string InfoTip(HWND hPage, HWND hList, int row, int column);

// Records the range and position messages the progress bar receives, by
// subclassing the real control for the life of the object.
class CProgressLog {
public:
    explicit CProgressLog(HWND hProgress);
    ~CProgressLog();
    CProgressLog(const CProgressLog&) = delete;
    CProgressLog& operator=(const CProgressLog&) = delete;
    // (low, high) of every PBM_SETRANGE, in order.
    std::vector<std::pair<int, int>> ranges;
    std::vector<int> positions;
    // Called on every PBM_SETPOS before the control moves.
    std::function<void(int)> onPosition;
private:
    static LRESULT CALLBACK Proc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
    HWND m_hWnd;
    WNDPROC m_pPrevious;
};

// Sample servers copied into a temporary folder under other names; each is
// unregistered at the end whatever the test did, so the prefix is left as it
// was found.
class CServerCopies {
public:
    explicit CServerCopies(const CTempDir& dir) : m_dir(dir) {}
    ~CServerCopies();
    CServerCopies(const CServerCopies&) = delete;
    CServerCopies& operator=(const CServerCopies&) = delete;
    // Copies the sample to the relative path; returns the new path.
    std::string Add(const std::string& sample, const std::string& relative);
private:
    const CTempDir& m_dir;
    std::vector<std::string> m_paths;
};

// True when the ProgID's Clsid key under HKEY_CLASSES_ROOT names a class.
bool IsProgIDRegistered(const std::string& progID);

// The file names of the catalogue in its first display order (ascending,
// ignoring case), computed from the table.
std::vector<std::string> CatalogueNamesAscending();
// The version text of a file, read with the version functions directly.
std::string FileVersionText(const std::string& path);
}
