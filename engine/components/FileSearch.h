#pragma once
#include "framework/CString.h"
#include <functional>
#include <map>
#include <set>
#include <vector>

// Searching a folder tree for component files by name. Plain functions over
// strings, so tests and the benchmark reach them without a window.

// The folder, a backslash when needed, and the name; an empty folder gives
// the name alone.
CString MakeFilePath(const CString& strFolder, const CString& strFileName);

// Depth-first search of the folder and every folder below it, in the order
// the file system lists entries. A matching file among a folder's own entries
// ends that folder's scan; a match found in a subfolder does not, and a later
// match replaces it. The result is the last match met, or empty. Folder links
// (reparse points) are not entered, and a folder whose search pattern would
// reach MAX_PATH characters yields nothing, so the search always ends.
CString FindFileInTree(const CString& strFolder, const CString& strFileName);

// FindFileInTree over the first folder, then over each other folder in turn
// while nothing is found: the first tree that holds the name answers.
CString FindFileInTrees(const CString& strFolder, const std::vector<CString>& otherFolders, const CString& strFileName);

// Orders names the way the search compares them, ignoring case.
struct NoCaseLess {
    bool operator()(const CString& a, const CString& b) const { return a.CompareNoCase(b) < 0; }
};
using FileNameSet = std::set<CString, NoCaseLess>;

// One walk of a folder tree that answers FindFileInTree for many names at
// once: for every wanted name, the path FindFileInTree(strFolder, name) gives.
class CFolderSearch {
public:
    // onFolder, when given, is called as each folder of the tree is entered;
    // its false ends the walk there.
    CFolderSearch(const CString& strFolder, const std::vector<CString>& names,
                  const std::function<bool()>& onFolder = {});

    // Walks one more tree for the wanted names no tree walked so far holds,
    // as FindFileInTrees would; nothing once a walk was stopped.
    void ThenSearch(const CString& strFolder, const std::function<bool()>& onFolder = {});

    // True when this walk answers for that folder (the first tree) and name.
    bool Covers(const CString& strFolder, const CString& strFileName) const;
    // The path found for a wanted name; empty when the tree holds none.
    CString PathOf(const CString& strFileName) const;
    // The walk was ended by onFolder before it was through: its answers are partial.
    bool WasStopped() const { return m_bStopped; }

private:
    CString m_strFolder;
    FileNameSet m_wanted;
    std::map<CString, CString, NoCaseLess> m_found;
    bool m_bStopped = false;
};
