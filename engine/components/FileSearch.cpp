#include "engine/components/FileSearch.h"
#include "framework/CFileFind.h"

namespace {
CString SearchBase(const CString& strFolder)
{
    CString strBase = strFolder;
    if (!strBase.IsEmpty() && !strBase.EndsWith('\\')) strBase += '\\';
    return strBase;
}

// Lists the folder whose path with separator is strBase. A pattern of
// MAX_PATH characters or more lists nothing (CFileFind refuses it) rather
// than being cut to some other folder's name; characters, not bytes, since
// one character of a UTF-8 path may take up to four bytes.
bool StartListing(CFileFind& find, const CString& strBase)
{
    return find.FindFile(strBase + "*.*");
}

// A link to a folder may lead back up the tree: it is not entered.
bool IsFolderToEnter(const CFileFind& find)
{
    return find.IsDirectory() && !find.IsDots() && !find.MatchesMask(FILE_ATTRIBUTE_REPARSE_POINT);
}

// Records, for each active name, the last match met in this folder's tree.
// Writing straight into 'found' gives the per-name rule: a subfolder's match
// overwrites an earlier one, and a name matched among this folder's own files
// is dropped from the active set, so nothing later in this folder replaces it.
// False when onFolder asked to stop, which ends the whole walk.
bool WalkForNames(const CString& strBase, const FileNameSet& active, std::map<CString, CString, NoCaseLess>& found,
                  const std::function<bool()>& onFolder)
{
    if (onFolder && !onFolder()) return false;
    CFileFind find;
    if (!StartListing(find, strBase)) return true;
    FileNameSet stillActive;
    const FileNameSet* pActive = &active;
    do {
        if (find.IsDots()) continue;
        if (find.IsDirectory()) {
            if (IsFolderToEnter(find) && !WalkForNames(strBase + find.GetFileName() + "\\", *pActive, found, onFolder))
                return false;
            continue;
        }
        const CString strName = find.GetFileName();
        const auto it = pActive->find(strName);
        if (it == pActive->end()) continue;
        found[*it] = find.GetFilePath();
        if (pActive == &active) {
            stillActive = active;
            pActive = &stillActive;
        }
        stillActive.erase(strName);
        if (stillActive.empty()) break;   // every name has ended this folder's scan
    } while (find.FindNextFile());
    return true;
}
}

CString MakeFilePath(const CString& strFolder, const CString& strFileName)
{
    return SearchBase(strFolder) + strFileName;
}

CString FindFileInTree(const CString& strFolder, const CString& strFileName)
{
    const CString strBase = SearchBase(strFolder);
    CFileFind find;
    if (!StartListing(find, strBase)) return CString();
    CString strResult;
    do {
        if (find.IsDirectory()) {
            if (!IsFolderToEnter(find)) continue;
            const CString strFound = FindFileInTree(strBase + find.GetFileName(), strFileName);
            if (!strFound.IsEmpty()) strResult = strFound;
        } else if (find.GetFileName().CompareNoCase(strFileName) == 0) {
            strResult = find.GetFilePath();
            break;
        }
    } while (find.FindNextFile());
    return strResult;
}

CString FindFileInTrees(const CString& strFolder, const std::vector<CString>& otherFolders, const CString& strFileName)
{
    CString strFound = FindFileInTree(strFolder, strFileName);
    for (size_t i = 0; i < otherFolders.size() && strFound.IsEmpty(); ++i)
        if (!otherFolders[i].IsEmpty()) strFound = FindFileInTree(otherFolders[i], strFileName);
    return strFound;
}

CFolderSearch::CFolderSearch(const CString& strFolder, const std::vector<CString>& names,
                             const std::function<bool()>& onFolder)
    : m_strFolder(strFolder), m_wanted(names.begin(), names.end())
{
    if (!m_wanted.empty()) m_bStopped = !WalkForNames(SearchBase(strFolder), m_wanted, m_found, onFolder);
}

void CFolderSearch::ThenSearch(const CString& strFolder, const std::function<bool()>& onFolder)
{
    if (m_bStopped || strFolder.IsEmpty()) return;
    FileNameSet missing;
    for (const CString& strName : m_wanted)
        if (m_found.count(strName) == 0) missing.insert(strName);
    if (!missing.empty()) m_bStopped = !WalkForNames(SearchBase(strFolder), missing, m_found, onFolder);
}

bool CFolderSearch::Covers(const CString& strFolder, const CString& strFileName) const
{
    return strFolder == m_strFolder && m_wanted.count(strFileName) != 0;
}

CString CFolderSearch::PathOf(const CString& strFileName) const
{
    const auto it = m_found.find(strFileName);
    return it == m_found.end() ? CString() : it->second;
}
