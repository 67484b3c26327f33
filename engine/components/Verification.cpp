#include "engine/components/Verification.h"
#include "engine/components/Catalogue.h"
#include "engine/components/RecordOrder.h"
#include "engine/components/FileSearch.h"
#include "engine/diagnosis/ClassRegistration.h"
#include "engine/diagnosis/PeFile.h"
#include "system/FileVersion.h"
#include "system/Registry.h"
#include "system/SystemInfo.h"
#include "framework/CFileFind.h"
#include "framework/Resources.h"
#include "res/resource.h"
#include <algorithm>
#include <functional>

namespace {
CString SearchTree(const CFolderSearch* pSearch, const CString& strFolder, const CString& strFileName,
                   const std::vector<CString>& otherFolders = {})
{
    if (pSearch && pSearch->Covers(strFolder, strFileName)) return pSearch->PathOf(strFileName);
    return FindFileInTrees(strFolder, otherFolders, strFileName);
}
}

std::vector<std::unique_ptr<ComponentItem>> MakeCatalogueRecords()
{
    const CString strNotChecked = LoadResourceString(IDS_NOT_CHECKED);
    std::vector<std::unique_ptr<ComponentItem>> records;
    records.reserve(static_cast<size_t>(g_nCatalogueEntries));
    for (int i = 0; i < g_nCatalogueEntries; ++i)
        records.push_back(std::make_unique<ComponentItem>(g_catalogue[i].pszProgID, g_catalogue[i].pszFileName,
                                                          g_catalogue[i].nKind, strNotChecked));
    return records;
}

std::vector<std::unique_ptr<ComponentItem>> VerifiedCatalogue(const VerificationFolders& folders)
{
    std::vector<std::unique_ptr<ComponentItem>> records = MakeCatalogueRecords();
    std::stable_sort(records.begin(), records.end(),
                     [](const auto& a, const auto& b) { return CompareRecords(*a, *b, 0) < 0; });
    std::vector<ComponentItem*> order;
    for (const auto& pItem : records) order.push_back(pItem.get());
    CWorkProgress quiet;
    VerifyRegistration(order, folders, quiet);
    VerifyFiles(order, folders, quiet);
    return records;
}

bool IsRegistered(const ComponentItem& item)
{
    if (item.strProgID.IsEmpty()) return false;
    // Read in the view the row's clients use: its file's bitness, or this
    // program's when the file is not known or cannot be read.
    const int nFileBits = item.strLocation.IsEmpty() ? 0 : ModuleViewBits(ReadPeFile(item.strLocation));
    const RegValue value = ReadProgIDClsid(HKEY_CLASSES_ROOT, item.strProgID, nFileBits ? nFileBits : OwnViewBits());
    return value.bExists && value.dwType == REG_SZ && !value.strText.IsEmpty();
}

CString ResolveLocation(ComponentItem& item, const VerificationFolders& folders, const CFolderSearch* pToolSearch,
                        const CFolderSearch* pCommonSearch)
{
    switch (item.nKind) {
    case KIND_TOOL_SYSTEM:
        item.strLocation = SearchTree(pToolSearch, folders.strSystemFolder, item.strFileName);
        break;
    case KIND_WINDOWS_SYSTEM:
        if (item.strLocation.IsEmpty()) item.strLocation = MakeFilePath(GetWindowsSystemFolder(), item.strFileName);
        break;
    case KIND_COMMON_FILES:
        if (item.strLocation.IsEmpty()) {
            item.strLocation = SearchTree(pCommonSearch, folders.strCommonFilesFolder, item.strFileName,
                                          folders.otherCommonFilesFolders);
            if (item.strLocation.IsEmpty())
                item.strLocation = MakeFilePath(folders.strSystemFolder, item.strFileName);
        }
        break;
    default:
        break;
    }
    item.bLookedFor = true;
    return item.strLocation;
}

void VerifyPresence(ComponentItem& item, const VerificationFolders& folders, const CFolderSearch* pToolSearch,
                    const CFolderSearch* pCommonSearch)
{
    const CString strPath = ResolveLocation(item, folders, pToolSearch, pCommonSearch);
    // A folder that happens to carry the file's name is not the file.
    CFileFind find;
    const bool bPresent = !strPath.IsEmpty() && find.FindFile(strPath) && !find.IsDirectory();
    find.Close();
    if (bPresent) {
        item.strOnSystem = LoadResourceString(IDS_YES);
        GetFileVersion(item.strLocation, item.dwVersionMS, item.dwVersionLS);
    } else {
        item.strOnSystem = LoadResourceString(IDS_NO);
        item.dwVersionMS = item.dwVersionLS = 0;
    }
}

void VerifyRegistration(const std::vector<ComponentItem*>& records, const VerificationFolders& folders,
                        CWorkProgress& progress)
{
    // The view a row is read in is its file's: rows never looked for are
    // looked for first, with one walk per tree.
    const int nCount = static_cast<int>(records.size());
    progress.SetProgressRange(nCount);
    std::vector<ComponentItem*> unknown;
    for (ComponentItem* pItem : records)
        if (pItem && !pItem->bLookedFor) unknown.push_back(pItem);
    if (!unknown.empty()) ResolveLocations(unknown, folders, progress);

    const CString strYes = LoadResourceString(IDS_YES);
    const CString strNo = LoadResourceString(IDS_NO);
    for (int i = 0; i < nCount; ++i) {
        progress.SetProgressPos(i);
        ComponentItem* pItem = records[static_cast<size_t>(i)];
        if (!pItem) continue;
        if (progress.IsStopRequested()) {
            pItem->bNotReached = true;
            continue;
        }
        pItem->bNotReached = false;
        pItem->strRegistered = IsRegistered(*pItem) ? strYes : strNo;
    }
    progress.SetProgressPos(0);
}

namespace {
// One walk of each tree answers every record that searches it, with the
// answers a search per record would give; then each(i, record, searches) runs
// for every record in order (a null record included, for the caller to skip).
// A stop during the walks or between records leaves the records not reached
// as they were, marked so.
void WithOneWalkPerTree(const std::vector<ComponentItem*>& records, const VerificationFolders& folders,
                        CWorkProgress& progress,
                        const std::function<void(int, ComponentItem*, const CFolderSearch&, const CFolderSearch&)>& each)
{
    std::vector<CString> toolNames, commonNames;
    for (const ComponentItem* pItem : records) {
        if (!pItem) continue;
        if (pItem->nKind == KIND_TOOL_SYSTEM) toolNames.push_back(pItem->strFileName);
        if (pItem->nKind == KIND_COMMON_FILES && pItem->strLocation.IsEmpty()) commonNames.push_back(pItem->strFileName);
    }
    const auto onFolder = [&progress] {
        progress.OnFolderEntered();
        return !progress.IsStopRequested();
    };
    const CFolderSearch toolSearch(toolNames.empty() ? CString() : folders.strSystemFolder, toolNames, onFolder);
    CFolderSearch commonSearch(commonNames.empty() || toolSearch.WasStopped() ? CString() : folders.strCommonFilesFolder,
                               commonNames, onFolder);
    if (!commonNames.empty() && !toolSearch.WasStopped())
        for (const CString& strOther : folders.otherCommonFilesFolders) commonSearch.ThenSearch(strOther, onFolder);
    bool bStopped = toolSearch.WasStopped() || commonSearch.WasStopped();
    for (size_t i = 0; i < records.size(); ++i) {
        bStopped = bStopped || progress.IsStopRequested();
        if (records[i]) records[i]->bNotReached = bStopped;
        if (!bStopped) each(static_cast<int>(i), records[i], toolSearch, commonSearch);
    }
}
} // namespace

void ResolveLocations(const std::vector<ComponentItem*>& records, const VerificationFolders& folders,
                      CWorkProgress& progress)
{
    WithOneWalkPerTree(records, folders, progress, [&](int, ComponentItem* pItem, const CFolderSearch& tool, const CFolderSearch& common) {
        if (pItem) ResolveLocation(*pItem, folders, &tool, &common);
    });
}

void VerifyFiles(const std::vector<ComponentItem*>& records, const VerificationFolders& folders,
                 CWorkProgress& progress)
{
    const int nCount = static_cast<int>(records.size());
    progress.SetProgressRange(nCount);
    WithOneWalkPerTree(records, folders, progress, [&](int i, ComponentItem* pItem, const CFolderSearch& tool, const CFolderSearch& common) {
        progress.SetProgressPos(i);
        if (pItem) VerifyPresence(*pItem, folders, &tool, &common);
    });
    progress.SetProgressPos(0);
}

bool IsPresent(const ComponentItem& item)
{
    return item.strOnSystem == LoadResourceString(IDS_YES);
}

void GetRecordCells(const ComponentItem& item, CString (&cells)[6])
{
    const bool bPresent = IsPresent(item);
    cells[0] = item.strFileName;
    cells[1] = item.strProgID;
    cells[2] = item.strRegistered;
    cells[3] = item.strOnSystem;
    cells[4] = bPresent ? FormatFileVersion(item.dwVersionMS, item.dwVersionLS) : CString();
    cells[5] = bPresent ? item.strLocation : CString();
}
