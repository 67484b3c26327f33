#pragma once
// What the benchmarks that run presses leave in the undo folder, taken away.
#include "engine/undo/UndoJournal.h"
#include <shlobj.h>
#include <set>
#include <string>
#include <vector>

// The undo folder's files and the folders above it, as they were before
// the run: what the run adds there is removed at the end.
class CUndoFolderGuard {
public:
    CUndoFolderGuard();
    ~CUndoFolderGuard();
    CUndoFolderGuard(const CUndoFolderGuard&) = delete;
    CUndoFolderGuard& operator=(const CUndoFolderGuard&) = delete;
    void RemoveAdded() const;

private:
    static std::set<std::wstring> Files(const std::wstring& strFolder);
    std::vector<std::wstring> m_created;    // folders that did not exist, deepest last
    std::set<std::wstring> m_files;
    std::wstring m_strFolder;
};

inline CUndoFolderGuard::CUndoFolderGuard()
{
    wchar_t szBase[MAX_PATH] = L"";
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, szBase))) {
        std::wstring strPath = szBase;
        for (const wchar_t* pszPart : {L"\\Kelvara", L"\\Forge Support", L"\\Undo"}) {
            strPath += pszPart;
            if (GetFileAttributesW(strPath.c_str()) == INVALID_FILE_ATTRIBUTES) m_created.push_back(strPath);
        }
    }
    m_strFolder = UndoFolder();
    m_files = Files(m_strFolder);
}

inline CUndoFolderGuard::~CUndoFolderGuard()
{
    RemoveAdded();
}

inline void CUndoFolderGuard::RemoveAdded() const
{
    if (m_strFolder.empty()) return;
    for (const std::wstring& strName : Files(m_strFolder))
        if (!m_files.count(strName)) DeleteFileW((m_strFolder + L'\\' + strName).c_str());
    for (auto it = m_created.rbegin(); it != m_created.rend(); ++it) RemoveDirectoryW(it->c_str());
}

inline std::set<std::wstring> CUndoFolderGuard::Files(const std::wstring& strFolder)
{
    std::set<std::wstring> files;
    WIN32_FIND_DATAW data = {};
    HANDLE hFind = FindFirstFileW((strFolder + L"\\*").c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE) return files;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.insert(data.cFileName);
    } while (FindNextFileW(hFind, &data));
    FindClose(hFind);
    return files;
}
