#include "framework/CWnd.h"
#include <vector>

CString CWnd::GetText(HWND hWnd)
{
    if (!hWnd) return CString();
    // Read as UTF-16 and converted here: the A length of a text is only an
    // estimate when a character takes several bytes, and a copy into a
    // buffer that is too short would cut a character in half.
    const int nLength = ::GetWindowTextLengthW(hWnd);
    if (nLength <= 0) return CString();
    std::vector<wchar_t> buffer(static_cast<size_t>(nLength) + 1);
    const int nCopied = ::GetWindowTextW(hWnd, buffer.data(), nLength + 1);
    return CString::FromWide(buffer.data(), nCopied > 0 ? nCopied : 0);
}

UINT CWnd::GetDpi() const
{
    // GetDpiForWindow (Windows 10 1607 on) follows the window's monitor;
    // before it, the screen's DPI is the only one there is.
    using GetDpiForWindowProc = UINT(WINAPI*)(HWND);
    static const auto pfnGetDpiForWindow = reinterpret_cast<GetDpiForWindowProc>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    if (pfnGetDpiForWindow && m_hWnd) {
        const UINT nDpi = pfnGetDpiForWindow(m_hWnd);
        if (nDpi) return nDpi;
    }
    HDC hScreen = ::GetDC(nullptr);
    const int nDpi = hScreen ? GetDeviceCaps(hScreen, LOGPIXELSX) : 0;
    if (hScreen) ::ReleaseDC(nullptr, hScreen);
    return nDpi > 0 ? static_cast<UINT>(nDpi) : USER_DEFAULT_SCREEN_DPI;
}

int CWnd::ScaleByDpi(int nPixels) const
{
    return MulDiv(nPixels, static_cast<int>(GetDpi()), USER_DEFAULT_SCREEN_DPI);
}
