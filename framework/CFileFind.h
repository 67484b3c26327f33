#pragma once
#include "framework/CString.h"
#include <utility>

// A file search over one pattern; the find handle is closed on every path out
// of scope. Unlike FindFirstFile/FindNextFile, FindFile already stands on the
// first entry, so a loop reads an entry and then calls FindNextFile.
class CFileFind {
public:
    CFileFind() = default;
    CFileFind(CFileFind&& from) noexcept
        : m_hFind(std::exchange(from.m_hFind, INVALID_HANDLE_VALUE)), m_data(from.m_data),
          m_strName(std::move(from.m_strName)), m_strRoot(std::move(from.m_strRoot)) {}
    CFileFind& operator=(CFileFind&&) = delete;
    ~CFileFind() { Close(); }

    // Starts a search on the pattern (a path, possibly with wildcards in its
    // last part); false when nothing matches, and for a pattern of MAX_PATH
    // characters or more, which the system's find functions refuse.
    bool FindFile(const CString& strPattern);
    // Moves to the next entry; false when there are no more.
    bool FindNextFile();
    void Close();

    const CString& GetFileName() const { return m_strName; }
    // The folder part of the pattern followed by the entry's name.
    CString GetFilePath() const { return m_strRoot + m_strName; }
    bool IsDirectory() const { return MatchesMask(FILE_ATTRIBUTE_DIRECTORY); }
    // "." and "..", which every folder but a drive's root lists.
    bool IsDots() const;
    bool MatchesMask(DWORD dwMask) const { return (m_data.dwFileAttributes & dwMask) != 0; }

private:
    void TakeEntry();

    HANDLE m_hFind = INVALID_HANDLE_VALUE;
    // The wide entry: the ANSI one holds a name in MAX_PATH bytes, and a name
    // of 255 characters may take three times that many in UTF-8.
    WIN32_FIND_DATAW m_data = {};
    CString m_strName;
    CString m_strRoot;   // the pattern up to and including its last backslash
};
