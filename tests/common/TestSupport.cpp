#include "common/TestSupport.h"
#include <tlhelp32.h>
#include "ui/SupportSheet.h"
#include "engine/undo/UndoFile.h"
#include "res/resource.h"
#include <commctrl.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

// ---- CTempDir --------------------------------------------------------------

namespace {
void RemoveTree(const std::string& path)
{
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA((path + "\\*").c_str(), &data);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = data.cFileName;
            if (name == "." || name == "..") continue;
            const std::string child = path + "\\" + name;
            const bool isLink = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !isLink) {
                RemoveTree(child);
            } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveDirectoryA(child.c_str());
            } else {
                SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(hFind, &data));
        FindClose(hFind);
    }
    RemoveDirectoryA(path.c_str());
}

// Removes folders that test processes no longer running left behind (a file
// Wine keeps mapped until its process ends cannot be deleted sooner, and a
// killed run leaves its folders), so a run leaves the prefix as it found it.
void SweepLeftovers(const std::string& temp)
{
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA((temp + "forge-test-*").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE) return;
    do {
        const DWORD pid = strtoul(data.cFileName + sizeof "forge-test-" - 1, nullptr, 10);
        if (pid == GetCurrentProcessId() || !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        if (HANDLE hProcess = OpenProcess(SYNCHRONIZE, FALSE, pid)) {
            const bool bRunning = WaitForSingleObject(hProcess, 0) == WAIT_TIMEOUT;
            CloseHandle(hProcess);
            if (bRunning) continue;
        }
        RemoveTree(temp + data.cFileName);
    } while (FindNextFileA(hFind, &data));
    FindClose(hFind);
}
}

CTempDir::CTempDir()
{
    char szTemp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, szTemp);
    static bool s_bSwept = false;
    if (!s_bSwept) SweepLeftovers(szTemp);
    s_bSwept = true;
    static unsigned s_counter = 0;
    for (;;) {
        char szName[64];
        wsprintfA(szName, "forge-test-%lu-%u", GetCurrentProcessId(), ++s_counter);
        std::string path = std::string(szTemp) + szName;
        if (CreateDirectoryA(path.c_str(), nullptr)) {
            char szFull[MAX_PATH] = "";
            GetLongPathNameA(path.c_str(), szFull, MAX_PATH);
            m_path = szFull[0] ? szFull : path;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("cannot make a temporary folder");
    }
}

CTempDir::~CTempDir()
{
    RemoveTree(m_path);
}

std::string CTempDir::MakeDir(const std::string& relative) const
{
    std::string path = m_path;
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find('\\', start);
        if (end == std::string::npos) end = relative.size();
        path += "\\" + relative.substr(start, end - start);
        CreateDirectoryA(path.c_str(), nullptr);
        start = end + 1;
    }
    return path;
}

std::string CTempDir::MakeFile(const std::string& relative, const std::string& content) const
{
    const size_t slash = relative.rfind('\\');
    if (slash != std::string::npos) MakeDir(relative.substr(0, slash));
    const std::string path = m_path + "\\" + relative;
    HANDLE hFile = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + path);
    DWORD written = 0;
    WriteFile(hFile, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(hFile);
    return path;
}

std::string CTempDir::CopyIn(const std::string& source, const std::string& relative) const
{
    const size_t slash = relative.rfind('\\');
    if (slash != std::string::npos) MakeDir(relative.substr(0, slash));
    const std::string path = m_path + "\\" + relative;
    if (!CopyFileA(source.c_str(), path.c_str(), FALSE)) throw std::runtime_error("cannot copy " + source);
    return path;
}

// ---- registry ----------------------------------------------------------------

bool DeleteRegTree(HKEY root, const std::string& subKey)
{
    const LONG result = RegDeleteTreeA(root, subKey.c_str());
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

CScopedRegValue::CScopedRegValue(HKEY root, const std::string& subKey, const std::string& valueName,
                                 std::optional<std::string> text, DWORD type)
    : m_root(root), m_subKey(subKey), m_valueName(valueName)
{
    Save();
    if (text) Write(type, reinterpret_cast<const BYTE*>(text->c_str()), static_cast<DWORD>(text->size() + 1));
    else Write(REG_NONE, nullptr, 0);
}

CScopedRegValue::CScopedRegValue(HKEY root, const std::string& subKey, const std::string& valueName,
                                 DWORD type, const std::vector<BYTE>& data)
    : m_root(root), m_subKey(subKey), m_valueName(valueName)
{
    Save();
    Write(type, data.data(), static_cast<DWORD>(data.size()));
}

void CScopedRegValue::Save()
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(m_root, m_subKey.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) return;
    m_hadKey = true;
    DWORD size = 0;
    if (RegQueryValueExA(hKey, m_valueName.c_str(), nullptr, &m_oldType, nullptr, &size) == ERROR_SUCCESS) {
        m_oldData.resize(size);
        RegQueryValueExA(hKey, m_valueName.c_str(), nullptr, &m_oldType, m_oldData.data(), &size);
        m_oldData.resize(size);
        m_hadValue = true;
    }
    RegCloseKey(hKey);
}

void CScopedRegValue::Write(DWORD type, const BYTE* data, DWORD size)
{
    if (!m_hadKey) {
        // Remember every key created on the way, to remove them afterwards.
        size_t pos = 0;
        while (pos != std::string::npos) {
            pos = m_subKey.find('\\', pos + 1);
            const std::string part = m_subKey.substr(0, pos);
            HKEY hProbe = nullptr;
            if (RegOpenKeyExA(m_root, part.c_str(), 0, KEY_READ, &hProbe) == ERROR_SUCCESS) RegCloseKey(hProbe);
            else m_createdKeys.push_back(part);
        }
    }
    HKEY hKey = nullptr;
    if (RegCreateKeyExA(m_root, m_subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create key " + m_subKey);
    if (type == REG_NONE && !data) RegDeleteValueA(hKey, m_valueName.c_str());
    else RegSetValueExA(hKey, m_valueName.c_str(), 0, type, data, size);
    RegCloseKey(hKey);
}

CScopedRegValue::~CScopedRegValue()
{
    if (!m_createdKeys.empty()) {
        DeleteRegTree(m_root, m_createdKeys.front());
        return;
    }
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(m_root, m_subKey.c_str(), 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS) return;
    if (m_hadValue)
        RegSetValueExA(hKey, m_valueName.c_str(), 0, m_oldType, m_oldData.data(), static_cast<DWORD>(m_oldData.size()));
    else
        RegDeleteValueA(hKey, m_valueName.c_str());
    RegCloseKey(hKey);
}

std::string TestProgramFolder()
{
    char szPath[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    std::string path = szPath;
    return path.substr(0, path.rfind('\\'));
}

std::string OwnProgramPath()
{
    return TestProgramFolder() + (sizeof(void*) == 8 ? "\\ForgeSupport64.exe" : "\\ForgeSupport.exe");
}


// ---- the sheet -----------------------------------------------------------------

namespace {
const std::function<void(HWND)>* s_pDrive = nullptr;
CPropertySheet* s_pSheet = nullptr;

void CALLBACK DriveSheet(HWND, UINT, UINT_PTR idEvent, DWORD)
{
    KillTimer(nullptr, idEvent);
    HWND hSheet = s_pSheet->GetSafeHwnd();
    if (s_pDrive && hSheet) (*s_pDrive)(hSheet);
    if (IsWindow(hSheet) && PropSheet_GetCurrentPageHwnd(hSheet))
        PropSheet_PressButton(hSheet, PSBTN_CANCEL);
}
}

INT_PTR RunSheet(const std::function<void(HWND)>& drive, UINT startPage)
{
    CSupportSheet sheet(LoadResourceString(IDS_SHEET_CAPTION), nullptr, startPage);
    return RunSheetModal(sheet, drive);
}

INT_PTR RunSheetModal(CPropertySheet& sheet, const std::function<void(HWND)>& drive)
{
    s_pSheet = &sheet;
    s_pDrive = &drive;
    // A thread timer fires inside the sheet's own modal loop.
    SetTimer(nullptr, 0, 1, &DriveSheet);
    const INT_PTR result = sheet.DoModal();
    s_pDrive = nullptr;
    s_pSheet = nullptr;
    return result;
}

HWND SelectPage(HWND hSheet, int index)
{
    PropSheet_SetCurSel(hSheet, nullptr, index);
    return PropSheet_IndexToHwnd(hSheet, index);
}

void ClickButton(HWND hPage, int id)
{
    SendMessageA(GetDlgItem(hPage, id), BM_CLICK, 0, 0);
}

// ---- message boxes ---------------------------------------------------------------

namespace {
std::vector<MessageBoxSeen>* s_pSeen = nullptr;

BOOL CALLBACK FindIcon(HWND hChild, LPARAM lParam)
{
    char szClass[32] = "";
    GetClassNameA(hChild, szClass, sizeof szClass);
    if (lstrcmpiA(szClass, "Static") == 0 && (GetWindowLongA(hChild, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        const HICON hIcon = reinterpret_cast<HICON>(SendMessageA(hChild, STM_GETICON, 0, 0));
        if (hIcon && hIcon == LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_HAND)))
            *reinterpret_cast<bool*>(lParam) = true;
    }
    return TRUE;
}

BOOL CALLBACK CloseIfMessageBox(HWND hWnd, LPARAM)
{
    char szClass[32] = "";
    GetClassNameA(hWnd, szClass, sizeof szClass);
    HWND hText = GetDlgItem(hWnd, 0xFFFF);
    if (lstrcmpA(szClass, "#32770") != 0 || !hText || !IsWindowVisible(hWnd)) return TRUE;
    MessageBoxSeen seen;
    char szText[2048] = "";
    GetWindowTextA(hWnd, szText, sizeof szText);
    seen.caption = szText;
    GetWindowTextA(hText, szText, sizeof szText);
    seen.text = szText;
    EnumChildWindows(hWnd, &FindIcon, reinterpret_cast<LPARAM>(&seen.stopIcon));
    s_pSeen->push_back(seen);
    SendMessageA(hWnd, WM_COMMAND, IDOK, 0);
    return TRUE;
}

void CALLBACK PollMessageBoxes(HWND, UINT, UINT_PTR, DWORD)
{
    EnumThreadWindows(GetCurrentThreadId(), &CloseIfMessageBox, 0);
}
}

std::vector<MessageBoxSeen> CloseMessageBoxesDuring(const std::function<void()>& action)
{
    std::vector<MessageBoxSeen> seen;
    std::vector<MessageBoxSeen>* pOuter = s_pSeen;
    s_pSeen = &seen;
    const UINT_PTR idTimer = SetTimer(nullptr, 0, 50, &PollMessageBoxes);
    action();
    KillTimer(nullptr, idTimer);
    s_pSeen = pOuter;
    return seen;
}

// ---- clipboard ----------------------------------------------------------------------

namespace {
bool OpenClipboardPatiently()
{
    for (int i = 0; i < 50; ++i) {
        if (OpenClipboard(nullptr)) return true;
        Sleep(20);
    }
    return false;
}
}

std::optional<std::string> ReadClipboardText(std::vector<UINT>* formats)
{
    if (!OpenClipboardPatiently()) return std::nullopt;
    if (formats) {
        formats->clear();
        for (UINT f = EnumClipboardFormats(0); f; f = EnumClipboardFormats(f)) formats->push_back(f);
    }
    std::optional<std::string> text;
    if (HANDLE hData = GetClipboardData(CF_TEXT)) {
        if (const char* p = static_cast<const char*>(GlobalLock(hData))) {
            text = std::string(p, strnlen(p, GlobalSize(hData)));
            GlobalUnlock(hData);
        }
    }
    CloseClipboard();
    return text;
}

void WriteClipboardText(const std::string& text)
{
    if (!OpenClipboardPatiently()) throw std::runtime_error("clipboard busy");
    EmptyClipboard();
    HGLOBAL hMem = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    std::memcpy(GlobalLock(hMem), text.c_str(), text.size() + 1);
    GlobalUnlock(hMem);
    SetClipboardData(CF_TEXT, hMem);
    CloseClipboard();
}

std::wstring ReadClipboardUnicode()
{
    std::wstring text;
    if (!OpenClipboardPatiently()) return text;
    if (HANDLE hData = GetClipboardData(CF_UNICODETEXT)) {
        if (const wchar_t* p = static_cast<const wchar_t*>(GlobalLock(hData))) {
            text.assign(p, wcsnlen(p, GlobalSize(hData) / sizeof(wchar_t)));
            GlobalUnlock(hData);
        }
    }
    CloseClipboard();
    return text;
}

// ---- text outside the code page ----------------------------------------------

std::wstring FromUtf8(const std::string& text)
{
    std::wstring wide(text.size(), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                                        &wide[0], static_cast<int>(wide.size()))));
    return wide;
}

std::string Repeat(const std::string& text, int count)
{
    std::string out;
    for (int i = 0; i < count; ++i) out += text;
    return out;
}

UINT UserCodePage()
{
    DWORD cp = 0;
    GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                   reinterpret_cast<LPWSTR>(&cp), sizeof cp / sizeof(wchar_t));
    return cp;
}

// ---- processes ----------------------------------------------------------------

ProcessOutput RunProcess(const std::string& commandLine, const std::string& folder)
{
    const CTempDir io;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE hOut = CreateFileA((io / "out").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    HANDLE hErr = CreateFileA((io / "err").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = hOut;
    startup.hStdError = hErr;
    std::string command = commandLine;
    PROCESS_INFORMATION process = {};
    ProcessOutput run;
    // A console program gets a console of its own, but no window for it.
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, folder.empty() ? nullptr : folder.c_str(),
                       &startup, &process)) {
        if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &run.exitCode);
        else TerminateProcess(process.hProcess, 99);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(hOut);
    CloseHandle(hErr);
    run.out = ReadFileText(io / "out");
    run.err = ReadFileText(io / "err");
    return run;
}

std::string ReadFileText(const std::string& path)
{
    std::string text;
    if (FILE* pFile = fopen(path.c_str(), "rb")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pFile)) > 0) text.append(buffer, n);
        fclose(pFile);
    }
    return text;
}

int CountProcesses(const std::string& exeName)
{
    HANDLE hSnapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnapshot == INVALID_HANDLE_VALUE) return -1;
    int nCount = 0;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL b = Process32First(hSnapshot, &entry); b; b = Process32Next(hSnapshot, &entry))
        if (lstrcmpiA(entry.szExeFile, exeName.c_str()) == 0) ++nCount;
    CloseHandle(hSnapshot);
    return nCount;
}

bool WaitFor(const std::function<bool()>& ready, int nSeconds)
{
    for (int i = 0; i < nSeconds * 20; ++i) {
        if (ready()) return true;
        Sleep(50);
    }
    return ready();
}

// ---- registry snapshots -------------------------------------------------------------

CRegistryRestore::CRegistryRestore()
    : m_pSnapshot(new CRegistrySnapshot)
{
    m_pSnapshot->Capture();
}

CRegistryRestore::~CRegistryRestore()
{
    DWORD dwError = 0;
    std::wstring strKey;
    ApplyRegistryChanges(m_pSnapshot->CompareWithRegistry(), dwError, strKey);
    delete m_pSnapshot;
}

std::string RegistryDifferences(const CRegistrySnapshot& snapshot)
{
    std::string text;
    for (const RegistryKeyChange& change : snapshot.CompareWithRegistry()) {
        text += CString::FromWide(change.strPath.c_str()).Str() + (change.bDelete ? " (created)\n" : "\n");
        for (const RegistryValueChange& item : change.values)
            text += "  " + CString::FromWide(item.value.strName.c_str()).Str() + (item.bDelete ? " (created)\n" : " (changed)\n");
    }
    return text;
}

std::string RegeditExport(const std::string& key)
{
    const CTempDir temp;
    const std::string file = temp / "export.reg";
    RunProcess("C:\\windows\\regedit.exe /E \"" + file + "\" \"" + key + "\"");
    return ReadFileText(file);
}
