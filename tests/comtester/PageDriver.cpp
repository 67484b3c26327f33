#include "PageDriver.h"
#include "engine/components/Catalogue.h"
#include "engine/components/SelfRegistration.h"
#include "res/resource.h"
#include <commctrl.h>
#include <algorithm>
#include <cstring>

namespace page_driver {

HWND ListOf(HWND hPage)
{
    return GetDlgItem(hPage, IDC_COMPONENT_LIST);
}

std::string Cell(HWND hList, int row, int column)
{
    char szText[1024] = "";
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = szText;
    item.cchTextMax = sizeof szText;
    SendMessageA(hList, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return szText;
}

std::vector<std::string> Column(HWND hList, int column)
{
    std::vector<std::string> cells;
    const int count = static_cast<int>(SendMessageA(hList, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) cells.push_back(Cell(hList, i, column));
    return cells;
}

int FindRow(HWND hList, const std::string& name)
{
    const std::vector<std::string> names = Column(hList, 0);
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == name) return static_cast<int>(i);
    return -1;
}

void ClickHeader(HWND hList, int column)
{
    HWND hHeader = reinterpret_cast<HWND>(SendMessageA(hList, LVM_GETHEADER, 0, 0));
    RECT rc = {};
    SendMessageA(hHeader, HDM_GETITEMRECT, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&rc));
    const LPARAM point = MAKELPARAM((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
    SendMessageA(hHeader, WM_LBUTTONDOWN, MK_LBUTTON, point);
    SendMessageA(hHeader, WM_LBUTTONUP, 0, point);
}

void SelectRows(HWND hList, const std::vector<std::string>& names)
{
    LVITEMA none = {};
    none.stateMask = LVIS_SELECTED;
    SendMessageA(hList, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
    for (const std::string& name : names) {
        LVITEMA item = {};
        item.stateMask = LVIS_SELECTED;
        item.state = LVIS_SELECTED;
        SendMessageA(hList, LVM_SETITEMSTATE, static_cast<WPARAM>(FindRow(hList, name)), reinterpret_cast<LPARAM>(&item));
    }
}

std::string FolderBox(HWND hPage)
{
    char szText[1024] = "";
    GetDlgItemTextA(hPage, IDC_SYSTEM_FOLDER, szText, sizeof szText);
    return szText;
}

void SetFolderBox(HWND hPage, const std::string& text)
{
    SetDlgItemTextA(hPage, IDC_SYSTEM_FOLDER, text.c_str());
}

namespace {
CProgressLog* s_pLog = nullptr;
}

CProgressLog::CProgressLog(HWND hProgress)
    : m_hWnd(hProgress)
{
    s_pLog = this;
    m_pPrevious = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hProgress, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CProgressLog::Proc)));
}

CProgressLog::~CProgressLog()
{
    SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pPrevious));
    s_pLog = nullptr;
}

LRESULT CALLBACK CProgressLog::Proc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == PBM_SETRANGE) s_pLog->ranges.emplace_back(LOWORD(lParam), HIWORD(lParam));
    if (msg == PBM_SETPOS) {
        s_pLog->positions.push_back(static_cast<int>(wParam));
        if (s_pLog->onPosition) s_pLog->onPosition(static_cast<int>(wParam));
    }
    return CallWindowProcA(s_pLog->m_pPrevious, hWnd, msg, wParam, lParam);
}

std::vector<std::string> CatalogueNamesAscending()
{
    std::vector<std::string> names;
    for (int i = 0; i < g_nCatalogueEntries; ++i) names.push_back(g_catalogue[i].pszFileName);
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return _stricmp(a.c_str(), b.c_str()) < 0; });
    return names;
}

std::string FileVersionText(const std::string& path)
{
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (!size) return "0.0.0.0";
    std::vector<char> block(size);
    VS_FIXEDFILEINFO* pInfo = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data()) ||
        !VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&pInfo), &length))
        return "0.0.0.0";
    char szText[64];
    wsprintfA(szText, "%u.%u.%u.%u", HIWORD(pInfo->dwFileVersionMS), LOWORD(pInfo->dwFileVersionMS),
              HIWORD(pInfo->dwFileVersionLS), LOWORD(pInfo->dwFileVersionLS));
    return szText;
}
CServerCopies::~CServerCopies()
{
    for (const std::string& path : m_paths) RegisterServerFile(path.c_str(), false);
}

std::string CServerCopies::Add(const std::string& sample, const std::string& relative)
{
    m_paths.push_back(m_dir.CopyIn(TestProgramFolder() + "\\" + sample, relative));
    return m_paths.back();
}

bool IsProgIDRegistered(const std::string& progID)
{
    char szValue[MAX_PATH] = "";
    LONG cb = sizeof szValue;
    return RegQueryValueA(HKEY_CLASSES_ROOT, (progID + "\\Clsid").c_str(), szValue, &cb) == ERROR_SUCCESS &&
           szValue[0] != '\0';
}

POINT CellCentre(HWND hList, int row, int column)
{
    RECT rc = {};
    rc.top = column;
    rc.left = LVIR_BOUNDS;
    SendMessageA(hList, LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&rc));
    return {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

// The infotip text the page gives for a row with the mouse over a cell.
std::string InfoTip(HWND hPage, HWND hList, int row, int column)
{
    SendMessageA(hList, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
    POINT pt = CellCentre(hList, row, column);
    ClientToScreen(hList, &pt);
    SetCursorPos(pt.x, pt.y);
    char szText[512] = "unchanged";
    NMLVGETINFOTIPA tip = {};
    tip.hdr.hwndFrom = hList;
    tip.hdr.idFrom = IDC_COMPONENT_LIST;
    tip.hdr.code = LVN_GETINFOTIPA;
    tip.pszText = szText;
    tip.cchTextMax = sizeof szText;
    tip.iItem = row;
    SendMessageA(hPage, WM_NOTIFY, IDC_COMPONENT_LIST, reinterpret_cast<LPARAM>(&tip));
    return szText;
}


}
