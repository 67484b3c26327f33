#pragma once
// Scratch folders, registry values and the real sheet, for tests.
#include <windows.h>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// A fresh folder under %TEMP%, removed with everything in it at the end.
class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;
    const std::string& Path() const { return m_path; }
    // Path of a relative name inside the folder (backslashes).
    std::string operator/(const std::string& relative) const { return m_path + "\\" + relative; }
    // Creates the folder and the folders above it inside the temporary folder.
    std::string MakeDir(const std::string& relative) const;
    // Creates a file (and its folders) with the given content.
    std::string MakeFile(const std::string& relative, const std::string& content = "x") const;
    // Copies an existing file in (creating folders); returns the new path.
    std::string CopyIn(const std::string& source, const std::string& relative) const;
private:
    std::string m_path;
};

// Sets (or deletes, with nullopt) one registry value for the life of the
// object and puts back exactly what was there before, key included.
class CScopedRegValue {
public:
    CScopedRegValue(HKEY root, const std::string& subKey, const std::string& valueName,
                    std::optional<std::string> text, DWORD type = REG_SZ);
    // Writes raw bytes of any type.
    CScopedRegValue(HKEY root, const std::string& subKey, const std::string& valueName,
                    DWORD type, const std::vector<BYTE>& data);
    ~CScopedRegValue();
    CScopedRegValue(const CScopedRegValue&) = delete;
    CScopedRegValue& operator=(const CScopedRegValue&) = delete;
private:
    void Save();
    void Write(DWORD type, const BYTE* data, DWORD size);
    HKEY m_root;
    std::string m_subKey, m_valueName;
    bool m_hadKey = false, m_hadValue = false;
    DWORD m_oldType = 0;
    std::vector<BYTE> m_oldData;
    std::vector<std::string> m_createdKeys;   // deepest last
};

// Deletes a registry key and everything below it; true when it is gone.
bool DeleteRegTree(HKEY root, const std::string& subKey);

// The machine's and the user's classes keys as they are at construction;
// whatever a test changes in them is put back at destruction.
class CRegistrySnapshot;
class CRegistryRestore {
public:
    CRegistryRestore();
    ~CRegistryRestore();
    CRegistryRestore(const CRegistryRestore&) = delete;
    CRegistryRestore& operator=(const CRegistryRestore&) = delete;
private:
    CRegistrySnapshot* m_pSnapshot;
};
// What differs between the registry and the snapshot, one key, then each
// value, per line; empty when nothing does.
std::string RegistryDifferences(const CRegistrySnapshot& snapshot);
// The key (e.g. "HKEY_LOCAL_MACHINE\SOFTWARE\Classes\CLSID\{...}") as the
// system's own 64-bit registry editor exports it; empty when it is missing.
std::string RegeditExport(const std::string& key);

// The folder the test program lives in, with its sample servers.
std::string TestProgramFolder();
// The utility of this build's bitness in that folder (ForgeSupport64.exe or
// ForgeSupport.exe).
std::string OwnProgramPath();

// Runs the real main sheet modally, starting on page 'startPage'. 'drive'
// runs inside the modal loop with the sheet window; afterwards the sheet is
// cancelled unless 'drive' already closed it. Returns DoModal's result.
INT_PTR RunSheet(const std::function<void(HWND hSheet)>& drive, UINT startPage = 0);
// The same for any property sheet of the framework.
class CPropertySheet;
INT_PTR RunSheetModal(CPropertySheet& sheet, const std::function<void(HWND hSheet)>& drive);

// Selects page 'index' of the sheet and returns its window.
HWND SelectPage(HWND hSheet, int index);
// Presses a button of a page the way a click does.
void ClickButton(HWND hPage, int id);

// What a message box showed.
struct MessageBoxSeen {
    std::string caption;
    std::string text;
    bool stopIcon = false;
};
// Runs 'action'; every message box the thread shows meanwhile is read and
// closed with its default button. Returns what the boxes showed.
std::vector<MessageBoxSeen> CloseMessageBoxesDuring(const std::function<void()>& action);

// The CF_TEXT bytes on the clipboard (without the terminating NUL), or
// nullopt when it holds no text; 'formats' receives every format present.
std::optional<std::string> ReadClipboardText(std::vector<UINT>* formats = nullptr);
// Puts a text on the clipboard, for tests that need a known old content.
void WriteClipboardText(const std::string& text);
// The CF_UNICODETEXT text on the clipboard; empty when it holds none.
std::wstring ReadClipboardUnicode();

// A file's bytes; empty when it cannot be read.
std::string ReadFileText(const std::string& path);
// What a program run to its end gave: exit code, standard output and error.
struct ProcessOutput {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out, err;
};
// Runs the command line (in 'folder' when given) and waits for it, two
// minutes at most, its standard output and error going to files.
ProcessOutput RunProcess(const std::string& commandLine, const std::string& folder = "");

// How many processes of that file name (e.g. "HangSrv.exe") run now.
int CountProcesses(const std::string& exeName);
// Calls 'ready' every 50 ms until it is true or the seconds have passed.
bool WaitFor(const std::function<bool()>& ready, int nSeconds = 20);

// UTF-8 text as UTF-16, converted without the program's code page.
std::wstring FromUtf8(const std::string& text);
std::string Repeat(const std::string& text, int count);
// The ANSI code page of the user's locale, in which CF_TEXT is expected.
UINT UserCodePage();
