#include "system/ClipboardText.h"
#include "framework/CClipboard.h"
#include <string>

namespace {
// The ANSI code page of the user's locale, in which programs without a
// UTF-8 manifest read CF_TEXT. GetACP() cannot tell it: the manifest makes
// it 65001 for this process.
UINT UserAnsiCodePage()
{
    for (const LCID lcid : {LOCALE_USER_DEFAULT, LOCALE_SYSTEM_DEFAULT}) {
        DWORD dwCodePage = 0;
        if (GetLocaleInfoW(lcid, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                           reinterpret_cast<LPWSTR>(&dwCodePage), sizeof dwCodePage / sizeof(wchar_t)) &&
            dwCodePage != 0 && IsValidCodePage(dwCodePage))
            return dwCodePage;
    }
    return 1252;   // a locale of Unicode-only scripts has no ANSI code page
}

// The text in that legacy code page. A character the code page lacks
// becomes one "?": no look-alike chosen by best fit, and one "?" for a
// character beyond U+FFFF, which would otherwise give two.
std::string ToLegacyText(const std::wstring& text, UINT nCodePage)
{
    std::wstring units;
    units.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t ch = text[i];
        if (!IS_HIGH_SURROGATE(ch) && !IS_LOW_SURROGATE(ch)) {
            units += ch;
            continue;
        }
        units += L'?';
        if (IS_HIGH_SURROGATE(ch) && i + 1 < text.size() && IS_LOW_SURROGATE(text[i + 1])) ++i;
    }
    if (units.empty()) return std::string();
    const int nLength = static_cast<int>(units.size());
    const DWORD dwFlags = WC_NO_BEST_FIT_CHARS;
    const int nBytes = WideCharToMultiByte(nCodePage, dwFlags, units.data(), nLength, nullptr, 0, "?", nullptr);
    if (nBytes <= 0) return std::string();
    std::string bytes(static_cast<size_t>(nBytes), '\0');
    const int nWritten =
        WideCharToMultiByte(nCodePage, dwFlags, units.data(), nLength, &bytes[0], nBytes, "?", nullptr);
    bytes.resize(nWritten > 0 ? static_cast<size_t>(nWritten) : 0);
    return bytes;
}

// A movable block holding a copy of the bytes.
std::optional<CGlobalMemory> MakeBlock(const void* pData, SIZE_T nBytes)
{
    auto block = CGlobalMemory::Alloc(GMEM_MOVEABLE, nBytes);
    if (!block || !block->CopyIn(pData, nBytes)) return std::nullopt;
    return block;
}
}

bool PlaceTextOnClipboard(HWND hOwner, const CString& strText)
{
    // Every block is made and filled before the clipboard is emptied, so a
    // failure here leaves the user's clipboard as it was.
    const std::wstring unicode = strText.ToWide();
    const std::string legacy = ToLegacyText(unicode, UserAnsiCodePage());
    auto unicodeBlock = MakeBlock(unicode.c_str(), (unicode.size() + 1) * sizeof(wchar_t));
    auto textBlock = MakeBlock(legacy.c_str(), legacy.size() + 1);
    if (!unicodeBlock || !textBlock) return false;

    auto clipboard = CClipboard::Open(hOwner);
    if (!clipboard) return false;
    clipboard->Empty();
    const bool bUnicode = clipboard->SetData(CF_UNICODETEXT, *unicodeBlock);
    return clipboard->SetData(CF_TEXT, *textBlock) && bUnicode;
}
