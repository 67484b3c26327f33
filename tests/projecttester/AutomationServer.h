#pragma once
// The sample automation server registered in the test prefix, and the real
// Project tester page driven through the real sheet.
#include "common/TestSupport.h"
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

// Registers the in-process sample server for the life of the object (its
// own DllRegisterServer) and unregisters it at the end.
class CInprocServerRegistration {
public:
    CInprocServerRegistration();
    ~CInprocServerRegistration();
    CInprocServerRegistration(const CInprocServerRegistration&) = delete;
    CInprocServerRegistration& operator=(const CInprocServerRegistration&) = delete;
    bool Registered() const { return m_bRegistered; }
private:
    HMODULE m_hModule = nullptr;
    bool m_bRegistered = false;
};

// Registers the local-server build ("/regserver") for the life of the object.
class CLocalServerRegistration {
public:
    CLocalServerRegistration();
    ~CLocalServerRegistration();
    CLocalServerRegistration(const CLocalServerRegistration&) = delete;
    CLocalServerRegistration& operator=(const CLocalServerRegistration&) = delete;
    bool Registered() const { return m_bRegistered; }
private:
    bool m_bRegistered = false;
};

// Sets an environment variable of this process for the life of the object.
class CScopedEnv {
public:
    CScopedEnv(const char* pszName, const std::string& value);
    ~CScopedEnv();
    CScopedEnv(const CScopedEnv&) = delete;
    CScopedEnv& operator=(const CScopedEnv&) = delete;
private:
    std::string m_name;
};

// What the page showed after a run.
struct PageResult {
    std::vector<std::string> errors;        // the error list, top to bottom
    std::string tree;                       // one line per node, see TreeText
    std::vector<MessageBoxSeen> boxes;      // message boxes shown by the tests
};

// The tree as text: one line per node, two spaces of indent per level, the
// node's text, " #" and its image, and " +" for an expanded node that has
// children.
std::string TreeText(HWND hTree);
std::vector<std::string> ErrorLines(HWND hList);

// Presses "&Test Project" with that path in the edit box; message boxes
// shown meanwhile are read and closed into 'boxes'.
void TestProject(HWND hPage, const std::string& path, std::vector<MessageBoxSeen>& boxes);

// Runs the sheet on the Project tester page: 'drive' gets the page window.
// The result is read just before the sheet closes.
PageResult RunProjectPage(const std::function<void(HWND hPage, std::vector<MessageBoxSeen>& boxes)>& drive);

// One test of one project text (written to a temporary .kvp file).
PageResult TestProjectText(const std::string& kvp);

// The system's message text for a result, as FormatMessageA gives it.
std::string SystemText(HRESULT hr);
