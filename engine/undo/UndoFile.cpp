#include "engine/undo/UndoFile.h"
#include "engine/undo/UndoFileText.h"
#include "system/Crypto.h"
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwctype>

using namespace undo_text;

namespace {
const size_t HEX_LINE_WIDTH = 77;

// The seal over the text's UTF-16 code units; empty when the system
// computes none.
std::wstring SealText(const wchar_t* pText, size_t nChars, const std::vector<BYTE>& key)
{
    std::vector<BYTE> mac;
    if (!HmacSha256(key, pText, nChars * sizeof(wchar_t), mac)) return std::wstring();
    return HexText(mac);
}

bool HasControlCharacter(const std::wstring& str)
{
    for (wchar_t ch : str)
        if (ch < 0x20) return true;
    return false;
}

// A comment's text on one line.
std::wstring OneLine(std::wstring str)
{
    for (wchar_t& ch : str)
        if (ch < 0x20) ch = L' ';
    return str;
}

std::wstring Quoted(const std::wstring& str)
{
    std::wstring out = L"\"";
    for (wchar_t ch : str) {
        if (ch == L'\\' || ch == L'"') out += L'\\';
        out += ch;
    }
    return out + L'"';
}

// A string value is written as text only when the text gives back exactly
// its bytes: whole characters, one NUL at the end and none before, no line
// breaks.
bool HasPlainText(const RegistryValue& value)
{
    const std::vector<BYTE>& data = value.data;
    if (value.dwType != REG_SZ || data.size() < 2 || data.size() % 2) return false;
    const size_t nChars = data.size() / 2;
    for (size_t i = 0; i < nChars; ++i) {
        const wchar_t ch = static_cast<wchar_t>(data[2 * i] | (data[2 * i + 1] << 8));
        if ((ch == 0) != (i + 1 == nChars) || ch == L'\r' || ch == L'\n') return false;
    }
    return true;
}

void AppendData(std::wstring& line, const RegistryValue& value)
{
    const std::vector<BYTE>& data = value.data;
    if (HasPlainText(value)) {
        line += Quoted(std::wstring(reinterpret_cast<const wchar_t*>(data.data()), data.size() / 2 - 1));
        return;
    }
    wchar_t szPrefix[32] = L"";
    if (value.dwType == REG_DWORD && data.size() == 4) {
        swprintf(szPrefix, 32, L"dword:%02x%02x%02x%02x", data[3], data[2], data[1], data[0]);
        line += szPrefix;
        return;
    }
    if (value.dwType == REG_BINARY) wcscpy(szPrefix, L"hex:");
    else swprintf(szPrefix, 32, L"hex(%lx):", static_cast<unsigned long>(value.dwType));
    line += szPrefix;
    // As regedit writes them: lines of about 80 characters, each but the
    // last ending with a backslash, the next indented by two spaces.
    size_t nLineStart = line.rfind(L'\n');
    size_t nColumn = line.size() - (nLineStart == std::wstring::npos ? 0 : nLineStart + 1);
    for (size_t i = 0; i < data.size(); ++i) {
        wchar_t szByte[4] = L"";
        swprintf(szByte, 4, L"%02x", data[i]);
        line += szByte;
        nColumn += 2;
        if (i + 1 == data.size()) break;
        line += L',';
        ++nColumn;
        if (nColumn >= HEX_LINE_WIDTH) {
            line += L"\\\r\n  ";
            nColumn = 2;
        }
    }
}
}

UndoCounts CountChanges(const std::vector<RegistryKeyChange>& changes)
{
    UndoCounts counts;
    for (const RegistryKeyChange& change : changes) {
        ++counts.nKeys;
        counts.nValues += static_cast<int>(change.values.size());
    }
    return counts;
}

std::wstring SnapshotTimeText(const FILETIME& ft)
{
    SYSTEMTIME st = {};
    if (!FileTimeToSystemTime(&ft, &st)) return std::wstring();
    const ULONGLONG nTicks = (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    wchar_t szText[40] = L"";
    swprintf(szText, 40, L"%04u-%02u-%02u %02u:%02u:%02u.%07llu", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
             st.wSecond, nTicks % 10000000ULL);
    return szText;
}

bool ReadSnapshotTime(const std::wstring& strText, FILETIME& ft)
{
    SYSTEMTIME st = {};
    unsigned long long nFraction = 0;
    int nUsed = 0;
    if (swscanf(strText.c_str(), L"%4hu-%2hu-%2hu %2hu:%2hu:%2hu.%7llu%n", &st.wYear, &st.wMonth, &st.wDay, &st.wHour,
                &st.wMinute, &st.wSecond, &nFraction, &nUsed) != 7 ||
        static_cast<size_t>(nUsed) != strText.size() || !SystemTimeToFileTime(&st, &ft))
        return false;
    const ULONGLONG nTicks = ((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) + nFraction;
    ft.dwLowDateTime = static_cast<DWORD>(nTicks);
    ft.dwHighDateTime = static_cast<DWORD>(nTicks >> 32);
    return true;
}

std::vector<BYTE> FormatUndoFile(const std::vector<RegistryKeyChange>& changes, const UndoFileHeader& header,
                                 const UndoSeal& seal, UndoCounts* pCounts)
{
    std::wstring body, skipped;
    UndoCounts counts;
    for (const RegistryKeyChange& change : changes) {
        if (HasControlCharacter(change.strPath)) {
            skipped += L"; Left out, its name has control characters: a key under " + OneLine(change.strPath) + L"\r\n";
            continue;
        }
        const SnapshotRoot* pRoot = RootOfPath(change.strPath);
        if (seal.scope == KeyScope::User && pRoot && pRoot->hRoot != HKEY_CURRENT_USER) {
            skipped += L"; Left out, a key of the machine this account may not change: " + change.strPath + L"\r\n";
            continue;
        }
        ++counts.nKeys;
        body += change.bDelete ? L"\r\n[-" + change.strPath + L"]\r\n" : L"\r\n[" + change.strPath + L"]\r\n";
        for (const RegistryValueChange& item : change.values) {
            if (HasControlCharacter(item.value.strName)) {
                skipped += L"; Left out, its name has control characters: a value of " + OneLine(change.strPath) + L"\r\n";
                continue;
            }
            ++counts.nValues;
            body += item.value.strName.empty() ? L"@=" : Quoted(item.value.strName) + L"=";
            if (item.bDelete) body += L"-";
            else AppendData(body, item.value);
            body += L"\r\n";
        }
    }
    std::wstring text = std::wstring(FILE_FIRST_LINE) + L"\r\n\r\n" + OUR_MARK + L"\r\n";
    text += UNDOES_PREFIX + OneLine(header.strAction) + BEGUN_SEPARATOR + OneLine(header.strTime) + L"\r\n";
    text += COMPUTER_PREFIX + OneLine(header.strComputer) + USER_SEPARATOR + OneLine(header.strUser) + L"\r\n";
    if (!header.strUserSid.empty()) text += SID_PREFIX + OneLine(header.strUserSid) + L"\r\n";
    text += TAKEN_PREFIX + SnapshotTimeText(header.ftTaken) + L"\r\n";
    std::wstring strCovers = L"; Covers: ", strLeftOut;
    for (const SnapshotRoot& root : SnapshotRoots()) strCovers += std::wstring(root.pszPath) + L", ";
    for (const wchar_t* pszName : LeftOutSubtrees()) strLeftOut += (strLeftOut.empty() ? L"" : L", ") + std::wstring(pszName);
    text += strCovers.substr(0, strCovers.size() - 2) + L"; left out below them: " + strLeftOut + L"\r\n";
    text += L"; Restores " + std::to_wstring(counts.nKeys) + L" keys and " + std::to_wstring(counts.nValues) + L" values.\r\n";
    text += L"; Apply with: ForgeSupport.exe /undo \"<this file>\", or: reg import \"<this file>\" /reg:64\r\n";
    if (!header.strNote.empty()) text += L"; " + OneLine(header.strNote) + L"\r\n";
    text += skipped + body + L"\r\n";
    text += CHECK_PREFIX + std::wstring(seal.scope == KeyScope::Machine ? MACHINE_SCOPE : USER_SCOPE) +
            SealText(text.data(), text.size(), seal.key) + L"\r\n";

    if (pCounts) *pCounts = counts;
    std::vector<BYTE> bytes(2 + text.size() * sizeof(wchar_t));
    bytes[0] = 0xFF;
    bytes[1] = 0xFE;
    std::memcpy(bytes.data() + 2, text.data(), text.size() * sizeof(wchar_t));
    return bytes;
}

