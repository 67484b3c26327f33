#include "system/SystemMessage.h"

CString OneLineText(const CString& strText)
{
    std::string out;
    out.reserve(strText.Str().size());
    bool bBreak = false;
    for (const char ch : strText.Str()) {
        if (ch == '\r' || ch == '\n') {
            bBreak = true;
            continue;
        }
        if (bBreak && !out.empty() && out.back() != ' ') out += ' ';
        bBreak = false;
        out += ch;
    }
    while (!out.empty() && (out.back() == ' ' || out.back() == '\t')) out.pop_back();
    return CString(out);
}

CString SystemMessageText(DWORD dwCode, MessageForm form)
{
    char* pszText = nullptr;
    const DWORD nLength = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                                         nullptr, dwCode, 0, reinterpret_cast<LPSTR>(&pszText), 0, nullptr);
    const std::string strText = nLength > 0 && pszText ? std::string(pszText, nLength) : std::string();
    if (pszText) LocalFree(pszText);
    return form == MessageForm::AsGiven ? CString(strText) : OneLineText(strText);
}
