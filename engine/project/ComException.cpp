#include "engine/project/ComException.h"

BOOL CComException::GetErrorMessage(LPSTR pszError, UINT nMaxError, PUINT)
{
    if (pszError && nMaxError > 0) lstrcpynA(pszError, m_info.what(), static_cast<int>(nMaxError));
    return TRUE;
}
