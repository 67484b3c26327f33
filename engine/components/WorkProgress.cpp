#include "engine/components/WorkProgress.h"

void CWorkProgress::SetProgressRange(int) {}

void CWorkProgress::SetProgressPos(int) {}

void CWorkProgress::OnFolderEntered() {}

void CWorkProgress::OnWaiting(const CString&, DWORD) {}

bool CWorkProgress::IsStopRequested()
{
    return false;
}

void CWorkProgress::ResetStop() {}
