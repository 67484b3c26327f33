#pragma once
#include "framework/CString.h"
#include "engine/components/VerificationSite.h"
#include "engine/undo/UndoJournal.h"
#include "ui/comtester/ComponentDetails.h"
#include <functional>

class CComponentList;

// The COM tester's side of undo files: two lines under the buttons say
// where the last press's undo file is and what it restores, and the list's
// right-click menu offers "Undo last registration change...", which names
// the file, asks once, applies it and verifies the affected rows again.
class CUndoPanel : public CListMenuExtension {
public:
    void Attach(HWND hPage, CComponentList* pList, std::function<VerificationFolders()> folders);
    // What a press's recording left; says so in a message box when nothing
    // could be kept.
    void ShowOutcome(const UndoOutcome& outcome);

    void AppendMenuItems(HMENU hMenu) override;
    bool OnMenuCommand(UINT nCommand) override;

private:
    void UndoLastChange();
    void ShowLines(const CString& strStatus, const std::wstring& strFile);
    int Ask(const CString& strText, UINT nType) const;

    HWND m_hPage = nullptr;
    CComponentList* m_pList = nullptr;
    std::function<VerificationFolders()> m_folders;
};
