#include "AutomationServer.h"
#include "res/resource.h"
#include <commctrl.h>
#include <gtest/gtest.h>

namespace {
using EntryPoint = HRESULT(STDAPICALLTYPE*)();
}

CInprocServerRegistration::CInprocServerRegistration()
{
    const std::string path = TestProgramFolder() + "\\TorvexAppServices.dll";
    m_hModule = LoadLibraryA(path.c_str());
    if (!m_hModule) return;
    auto pfnRegister = reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(m_hModule, "DllRegisterServer")));
    m_bRegistered = pfnRegister && SUCCEEDED(pfnRegister());
}

CInprocServerRegistration::~CInprocServerRegistration()
{
    if (!m_hModule) return;
    if (auto pfnUnregister = reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(m_hModule, "DllUnregisterServer"))))
        pfnUnregister();
    FreeLibrary(m_hModule);
}

namespace {
bool RunServerExe(const char* pszSwitch)
{
    std::string command = "\"" + TestProgramFolder() + "\\TorvexAppServicesServer.exe\" " + pszSwitch;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD exitCode = 1;
    GetExitCodeProcess(pi.hProcess, &exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return exitCode == 0;
}
}

CLocalServerRegistration::CLocalServerRegistration() : m_bRegistered(RunServerExe("/regserver")) {}
CLocalServerRegistration::~CLocalServerRegistration() { RunServerExe("/unregserver"); }

CScopedEnv::CScopedEnv(const char* pszName, const std::string& value) : m_name(pszName)
{
    SetEnvironmentVariableA(pszName, value.c_str());
}

CScopedEnv::~CScopedEnv()
{
    SetEnvironmentVariableA(m_name.c_str(), nullptr);
}

namespace {
void AppendTree(HWND hTree, HTREEITEM hItem, int depth, std::string& out)
{
    for (; hItem; hItem = TreeView_GetNextSibling(hTree, hItem)) {
        char szText[1024] = "";
        TVITEMA item = {};
        item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_STATE | TVIF_PARAM;
        item.hItem = hItem;
        item.pszText = szText;
        item.cchTextMax = sizeof szText;
        item.stateMask = TVIS_EXPANDED;
        SendMessageA(hTree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        const HTREEITEM hChild = TreeView_GetChild(hTree, hItem);
        out += std::string(static_cast<size_t>(depth) * 2, ' ') + szText + " #" + std::to_string(item.iImage);
        if (item.iSelectedImage != item.iImage) out += " (selected image " + std::to_string(item.iSelectedImage) + ")";
        if (item.lParam != 0) out += " (data)";
        if (hChild && (item.state & TVIS_EXPANDED)) out += " +";
        out += "\n";
        AppendTree(hTree, hChild, depth + 1, out);
    }
}
}

std::string TreeText(HWND hTree)
{
    std::string out;
    AppendTree(hTree, TreeView_GetRoot(hTree), 0, out);
    return out;
}

std::vector<std::string> ErrorLines(HWND hList)
{
    std::vector<std::string> lines;
    const int count = ListView_GetItemCount(hList);
    for (int i = 0; i < count; ++i) {
        char szText[1024] = "";
        ListView_GetItemText(hList, i, 0, szText, sizeof szText);
        lines.push_back(szText);
    }
    return lines;
}

void TestProject(HWND hPage, const std::string& path, std::vector<MessageBoxSeen>& boxes)
{
    SetDlgItemTextA(hPage, IDC_PROJECT_PATH, path.c_str());
    const auto seen = CloseMessageBoxesDuring([&] { ClickButton(hPage, IDC_TEST_PROJECT); });
    boxes.insert(boxes.end(), seen.begin(), seen.end());
}

PageResult RunProjectPage(const std::function<void(HWND, std::vector<MessageBoxSeen>&)>& drive)
{
    PageResult result;
    RunSheet([&](HWND hSheet) {
        HWND hPage = SelectPage(hSheet, 2);
        drive(hPage, result.boxes);
        result.errors = ErrorLines(GetDlgItem(hPage, IDC_ERROR_LIST));
        result.tree = TreeText(GetDlgItem(hPage, IDC_PROJECT_TREE));
    });
    return result;
}

PageResult TestProjectText(const std::string& kvp)
{
    CTempDir dir;
    const std::string path = dir.MakeFile("project.kvp", kvp);
    return RunProjectPage([&](HWND hPage, std::vector<MessageBoxSeen>& boxes) { TestProject(hPage, path, boxes); });
}

std::string SystemText(HRESULT hr)
{
    char* psz = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                   nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<LPSTR>(&psz), 0, nullptr);
    std::string text = n && psz ? std::string(psz, n) : std::string();
    if (psz) LocalFree(psz);
    return text;
}
