#pragma once
#include "engine/components/VerificationSite.h"
#include "engine/components/WorkProgress.h"
#include "framework/CPaintPump.h"
#include "ui/comtester/ComponentDetails.h"
#include <functional>

class CComponentList;

// The list's right-click commands "Create classes of selected rows" and "...
// of all rows": each row's class is created in a helper process, the bar
// moves, Esc or the prompt's Stop ends the wait, and the rows' verdicts,
// infotips and details then say how creating went. Its items come before
// those of the next extension, which it hands every other command.
class CClassCreationMenu : public CListMenuExtension, private CWorkProgress {
public:
    void Attach(HWND hPage, CComponentList* pList, std::function<VerificationFolders()> folders,
                CListMenuExtension* pNext = nullptr);

    void AppendMenuItems(HMENU hMenu) override;
    bool OnMenuCommand(UINT nCommand) override;

private:
    void CreateClasses(bool bAll);

    void SetProgressRange(int nUpper) override;
    void SetProgressPos(int nPos) override;
    void OnFolderEntered() override;
    void OnWaiting(const CString& strFile, DWORD dwElapsedMs) override;
    bool IsStopRequested() override;
    void ResetStop() override;

    HWND m_hPage = nullptr;
    CComponentList* m_pList = nullptr;
    std::function<VerificationFolders()> m_folders;
    CListMenuExtension* m_pNext = nullptr;
    CPaintPump m_pump;
};
