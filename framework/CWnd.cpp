#include "framework/CWnd.h"
#include <vector>

CString CWnd::GetText(HWND hWnd)
{
    if (!hWnd) return CString();
    const int nLength = ::GetWindowTextLengthA(hWnd);
    if (nLength <= 0) return CString();
    std::vector<char> buffer(static_cast<size_t>(nLength) + 1);
    const int nCopied = ::GetWindowTextA(hWnd, buffer.data(), nLength + 1);
    return CString(buffer.data(), nCopied > 0 ? nCopied : 0);
}
