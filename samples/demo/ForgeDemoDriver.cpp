// ForgeDemoDriver.exe UTILITY OUTFOLDER PROJECT: starts the utility, drives
// each page of its sheet from outside the process the way a user would, and
// captures the sheet after each page into OUTFOLDER\general.bmp,
// comtester.bmp and projecttester.bmp; then cancels the sheet and waits for
// the utility to end. On the COM tester it also opens the details of the
// row DETAILS_ROW and captures them into OUTFOLDER\details.bmp, and registers
// a server that never ends (HangSrv.exe beside the driver, copied into a
// scratch System folder as STOP_ROW) to capture the prompt that offers to
// stop waiting into OUTFOLDER\stop.bmp. A console program; ends with 0 when
// all five pictures were written.
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// The sheet's caption and the page controls, as the utility's resources fix them.
const char SHEET_CAPTION[] = "Kelvara Forge 8.0 Support Services Utility Program";
const int PAGE_GENERAL = 0, PAGE_COMTESTER = 1, PAGE_PROJECTTESTER = 2;
const int IDC_OPERATING_SYSTEM = 1013;
const int IDC_IE_VERSION = 1014;
const int IDC_VERIFY_COM = 1003;
const int IDC_VERIFY_FILES = 1007;
const int IDC_PROJECT_PATH = 1005;
const int IDC_TEST_PROJECT = 1009;
const int IDC_COMPONENT_LIST = 1002;
const char DETAILS_ROW[] = "KfSql.dll";
const char DETAILS_CAPTION[] = "Details of KfSql.dll";
const int IDC_SYSTEM_FOLDER = 1001;
const int IDC_REGISTER_SELECTED = 1005;
const int IDC_STOP = 1023;
const char STOP_ROW[] = "KfBuildSrv.exe";
const char STOP_CAPTION[] = "Still working";

const DWORD START_WAIT_MS = 60000;
const DWORD END_WAIT_MS = 30000;
// A button's work runs inside the utility; a press that has not come back
// by then is taken as hung.
const UINT PRESS_WAIT_MS = 300000;

HWND FindSheet(DWORD nProcessId, HANDLE hProcess)
{
    for (DWORD nWaited = 0; nWaited < START_WAIT_MS; nWaited += 100) {
        HWND hWnd = nullptr;
        while ((hWnd = FindWindowExA(nullptr, hWnd, nullptr, SHEET_CAPTION)) != nullptr) {
            DWORD nOwner = 0;
            GetWindowThreadProcessId(hWnd, &nOwner);
            if (nOwner == nProcessId && IsWindowVisible(hWnd)) return hWnd;
        }
        if (WaitForSingleObject(hProcess, 100) == WAIT_OBJECT_0) return nullptr;
    }
    return nullptr;
}

// Sends and waits for the utility to handle it; false when it did not in time.
bool Send(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT nTimeoutMs = PRESS_WAIT_MS)
{
    DWORD_PTR nResult = 0;
    return SendMessageTimeoutA(hWnd, msg, wParam, lParam, SMTO_NORMAL, nTimeoutMs, &nResult) != 0;
}

HWND ShowPage(HWND hSheet, int nIndex)
{
    Send(hSheet, PSM_SETCURSEL, static_cast<WPARAM>(nIndex), 0);
    DWORD_PTR nPage = 0;
    SendMessageTimeoutA(hSheet, PSM_INDEXTOHWND, static_cast<WPARAM>(nIndex), 0, SMTO_NORMAL, PRESS_WAIT_MS, &nPage);
    return reinterpret_cast<HWND>(nPage);
}

bool Press(HWND hPage, int nId)
{
    HWND hButton = GetDlgItem(hPage, nId);
    return hButton && Send(hButton, BM_CLICK, 0, 0);
}

// Lets the utility repaint everything before the screen is read.
void Settle(HWND hSheet)
{
    RedrawWindow(hSheet, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    for (int i = 0; i < 5; ++i) {
        Send(hSheet, WM_NULL, 0, 0, 10000);
        Sleep(200);
    }
}

bool WriteBitmap(const std::string& strPath, int nWidth, int nHeight, const std::vector<BYTE>& bits)
{
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = nWidth;
    info.biHeight = nHeight;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = static_cast<DWORD>(bits.size());
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;   // "BM"
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + info.biSizeImage;
    FILE* pFile = fopen(strPath.c_str(), "wb");
    if (!pFile) return false;
    bool bDone = fwrite(&file, sizeof file, 1, pFile) == 1 && fwrite(&info, sizeof info, 1, pFile) == 1 &&
                 fwrite(bits.data(), 1, bits.size(), pFile) == bits.size();
    if (fclose(pFile) != 0) bDone = false;
    return bDone;
}

// Copies the sheet's window from the screen into a 24-bit BMP file.
bool Capture(HWND hSheet, const std::string& strPath)
{
    Settle(hSheet);
    // The client area only: with no window manager under Xvfb nobody draws
    // the frame, which would come out black.
    RECT rc = {};
    if (!GetClientRect(hSheet, &rc)) return false;
    MapWindowPoints(hSheet, nullptr, reinterpret_cast<POINT*>(&rc), 2);
    const int nWidth = rc.right - rc.left, nHeight = rc.bottom - rc.top;
    if (nWidth <= 0 || nHeight <= 0) return false;
    HDC hScreen = GetDC(nullptr);
    HDC hMemory = CreateCompatibleDC(hScreen);
    HBITMAP hBitmap = CreateCompatibleBitmap(hScreen, nWidth, nHeight);
    HGDIOBJ hOld = SelectObject(hMemory, hBitmap);
    const bool bCopied = BitBlt(hMemory, 0, 0, nWidth, nHeight, hScreen, rc.left, rc.top, SRCCOPY) != FALSE;
    SelectObject(hMemory, hOld);

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = nWidth;
    info.bmiHeader.biHeight = nHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    const size_t nStride = (static_cast<size_t>(nWidth) * 3 + 3) & ~static_cast<size_t>(3);
    std::vector<BYTE> bits(nStride * static_cast<size_t>(nHeight));
    const bool bRead = GetDIBits(hMemory, hBitmap, 0, static_cast<UINT>(nHeight), bits.data(), &info, DIB_RGB_COLORS) == nHeight;
    DeleteObject(hBitmap);
    DeleteDC(hMemory);
    ReleaseDC(nullptr, hScreen);
    return bCopied && bRead && WriteBitmap(strPath, nWidth, nHeight, bits);
}

// Selects a row the way a user would: its name typed into the list, whose
// incremental search focuses and selects it.
void TypeRow(HWND hSheet, HWND hList, const char* pszName)
{
    for (const char* p = pszName; *p; ++p) PostMessageA(hList, WM_CHAR, static_cast<unsigned char>(*p), 1);
    Send(hSheet, WM_NULL, 0, 0);
}

// Types the row's name into the list (its incremental search focuses and
// selects the row) and presses Enter, which opens the row's details; the
// dialog is captured and closed.
bool CaptureDetails(HWND hSheet, HWND hComTester, const std::string& strPath)
{
    HWND hList = hComTester ? GetDlgItem(hComTester, IDC_COMPONENT_LIST) : nullptr;
    if (!hList) return false;
    TypeRow(hSheet, hList, DETAILS_ROW);
    PostMessageA(hList, WM_KEYDOWN, VK_RETURN, 1);
    HWND hDetails = nullptr;
    for (int i = 0; i < 100 && !hDetails; ++i) {
        Sleep(100);
        hDetails = FindWindowA("#32770", DETAILS_CAPTION);
    }
    if (!hDetails) return false;
    const bool bCaptured = Capture(hDetails, strPath);
    PostMessageA(hDetails, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 100 && IsWindow(hDetails); ++i) Sleep(100);
    return bCaptured;
}

HWND WaitForWindow(const char* pszCaption, DWORD dwMs)
{
    for (DWORD nWaited = 0; nWaited < dwMs; nWaited += 100) {
        HWND hWnd = FindWindowA("#32770", pszCaption);
        if (hWnd && IsWindowVisible(hWnd)) return hWnd;
        Sleep(100);
    }
    return nullptr;
}

// Registers STOP_ROW from a scratch System folder that holds a server which
// never ends; once the prompt shows, it is captured and its Stop pressed.
bool CaptureStopPrompt(HWND hSheet, HWND hComTester, const std::string& strPath)
{
    char szDriver[MAX_PATH] = "", szTemp[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, szDriver, MAX_PATH);
    std::string strHang = szDriver;
    strHang = strHang.substr(0, strHang.find_last_of('\\') + 1) + "HangSrv.exe";
    GetTempPathA(MAX_PATH, szTemp);
    const std::string strFolder = std::string(szTemp) + "ForgeDemoStuck";
    const std::string strServer = strFolder + "\\" + STOP_ROW;
    CreateDirectoryA(strFolder.c_str(), nullptr);
    HWND hList = hComTester ? GetDlgItem(hComTester, IDC_COMPONENT_LIST) : nullptr;
    if (!hList || !CopyFileA(strHang.c_str(), strServer.c_str(), FALSE)) return false;
    Send(GetDlgItem(hComTester, IDC_SYSTEM_FOLDER), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(strFolder.c_str()));
    TypeRow(hSheet, hList, STOP_ROW);
    PostMessageA(GetDlgItem(hComTester, IDC_REGISTER_SELECTED), BM_CLICK, 0, 0);
    HWND hPrompt = WaitForWindow(STOP_CAPTION, 20000);
    bool bCaptured = false;
    if (hPrompt) {
        Sleep(1500);   // a second or so counted in its text
        bCaptured = Capture(hPrompt, strPath);
        PostMessageA(GetDlgItem(hPrompt, IDC_STOP), BM_CLICK, 0, 0);
    }
    // The press ends once the server is ended; then its copy can go.
    const bool bEnded = Send(hSheet, WM_NULL, 0, 0, 30000);
    for (int i = 0; i < 50 && !DeleteFileA(strServer.c_str()); ++i) Sleep(100);
    RemoveDirectoryA(strFolder.c_str());
    return bCaptured && bEnded;
}

bool Report(bool bDone, const char* pszWhat)
{
    if (!bDone) fprintf(stderr, "ForgeDemoDriver: %s failed\n", pszWhat);
    return bDone;
}

bool DrivePages(HWND hSheet, const std::string& strOut, const std::string& strProject)
{
    SetForegroundWindow(hSheet);
    HWND hGeneral = ShowPage(hSheet, PAGE_GENERAL);
    bool bAll = Report(hGeneral != nullptr, "showing the General page");
    // The page opens with its first box focused and wholly selected, which
    // scrolls a long text to its end; show each box from its start instead.
    for (int nId : {IDC_OPERATING_SYSTEM, IDC_IE_VERSION}) {
        HWND hBox = hGeneral ? GetDlgItem(hGeneral, nId) : nullptr;
        if (hBox) {
            Send(hBox, EM_SETSEL, 0, 0);
            Send(hBox, EM_SCROLLCARET, 0, 0);
        }
    }
    bAll = Report(Capture(hSheet, strOut + "\\general.bmp"), "capturing general.bmp") && bAll;

    HWND hComTester = ShowPage(hSheet, PAGE_COMTESTER);
    bAll = Report(hComTester && Press(hComTester, IDC_VERIFY_COM), "pressing Verify COM Information") && bAll;
    bAll = Report(hComTester && Press(hComTester, IDC_VERIFY_FILES), "pressing Verify Files Exist") && bAll;
    bAll = Report(Capture(hSheet, strOut + "\\comtester.bmp"), "capturing comtester.bmp") && bAll;
    bAll = Report(CaptureDetails(hSheet, hComTester, strOut + "\\details.bmp"), "capturing details.bmp") && bAll;
    bAll = Report(CaptureStopPrompt(hSheet, hComTester, strOut + "\\stop.bmp"), "capturing stop.bmp") && bAll;

    HWND hProjectTester = ShowPage(hSheet, PAGE_PROJECTTESTER);
    HWND hPath = hProjectTester ? GetDlgItem(hProjectTester, IDC_PROJECT_PATH) : nullptr;
    bAll = Report(hPath && Send(hPath, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(strProject.c_str())),
                  "entering the project path") && bAll;
    bAll = Report(hProjectTester && Press(hProjectTester, IDC_TEST_PROJECT), "pressing Test Project") && bAll;
    bAll = Report(Capture(hSheet, strOut + "\\projecttester.bmp"), "capturing projecttester.bmp") && bAll;
    return bAll;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: ForgeDemoDriver UTILITY OUTFOLDER PROJECT\n");
        return 2;
    }
    // The utility's window in real pixels at any DPI, as the utility itself sees it.
    SetProcessDPIAware();
    std::string strCommand = std::string("\"") + argv[1] + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(argv[1], &strCommand[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        fprintf(stderr, "ForgeDemoDriver: cannot start %s (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    WaitForInputIdle(pi.hProcess, START_WAIT_MS);
    HWND hSheet = FindSheet(pi.dwProcessId, pi.hProcess);
    bool bAll = Report(hSheet != nullptr, "finding the utility's sheet");
    if (hSheet) {
        bAll = DrivePages(hSheet, argv[2], argv[3]) && bAll;
        // Cancel posted, not sent: the sheet ends its modal loop and the
        // process goes away while the call would still be waiting.
        PostMessageA(hSheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
    }
    if (WaitForSingleObject(pi.hProcess, END_WAIT_MS) != WAIT_OBJECT_0) {
        Report(false, "waiting for the utility to end");
        TerminateProcess(pi.hProcess, 1);
        bAll = false;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return bAll ? 0 : 1;
}
