#pragma once
// The lines an undo file of ours is known by: written by the formatter and
// looked for by the parser.
#include <cwchar>
#include <string>

namespace undo_text {
const wchar_t FILE_FIRST_LINE[] = L"Windows Registry Editor Version 5.00";
const wchar_t OUR_MARK[] = L"; Forge Support undo file";
const wchar_t CHECK_LEAD[] = L"; End of undo file. Check: ";
const wchar_t CHECK_PREFIX[] = L"; End of undo file. Check: HMAC-SHA256 ";
const wchar_t MACHINE_SCOPE[] = L"machine ";
const wchar_t USER_SCOPE[] = L"user ";
const wchar_t UNDOES_PREFIX[] = L"; Undoes: ";
const wchar_t BEGUN_SEPARATOR[] = L", begun ";
const wchar_t COMPUTER_PREFIX[] = L"; Computer: ";
const wchar_t USER_SEPARATOR[] = L", user: ";
const wchar_t SID_PREFIX[] = L"; User SID: ";
const wchar_t TAKEN_PREFIX[] = L"; Snapshot taken (UTC): ";

inline bool StartsWith(const std::wstring& str, const wchar_t* pszPrefix)
{
    return str.compare(0, wcslen(pszPrefix), pszPrefix) == 0;
}
}
