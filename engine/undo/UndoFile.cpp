#include "engine/undo/UndoFile.h"
#include "system/Crypto.h"
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwctype>

namespace {
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
const wchar_t TAKEN_PREFIX[] = L"; Snapshot taken (UTC): ";
const size_t HEX_LINE_WIDTH = 77;

// The seal over the text's UTF-16 code units; empty when the system
// computes none.
std::wstring SealText(const wchar_t* pText, size_t nChars, const std::vector<BYTE>& key)
{
    std::vector<BYTE> mac;
    if (!HmacSha256(key, pText, nChars * sizeof(wchar_t), mac)) return std::wstring();
    return HexText(mac);
}

bool StartsWith(const std::wstring& str, const wchar_t* pszPrefix)
{
    return str.compare(0, wcslen(pszPrefix), pszPrefix) == 0;
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
    text += TAKEN_PREFIX + SnapshotTimeText(header.ftTaken) + L"\r\n";
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

namespace {
// One body line of a registry file, read as the format has it.
class CLineParser {
public:
    CLineParser(const std::wstring& strLine) : m_str(strLine) {}

    // "name" with \\ and \" as the only escapes, or @ for the default value.
    bool Name(std::wstring& strName)
    {
        if (Take(L'@')) {
            strName.clear();
            return true;
        }
        return QuotedText(strName);
    }
    bool QuotedText(std::wstring& str)
    {
        if (!Take(L'"')) return false;
        str.clear();
        while (m_pos < m_str.size()) {
            wchar_t ch = m_str[m_pos++];
            if (ch == L'"') return true;
            if (ch == L'\\') {
                if (m_pos >= m_str.size() || (m_str[m_pos] != L'\\' && m_str[m_pos] != L'"')) return false;
                ch = m_str[m_pos++];
            }
            str += ch;
        }
        return false;
    }
    bool Take(wchar_t ch)
    {
        if (m_pos >= m_str.size() || m_str[m_pos] != ch) return false;
        ++m_pos;
        return true;
    }
    bool TakeText(const wchar_t* psz)
    {
        const size_t n = wcslen(psz);
        if (m_str.compare(m_pos, n, psz) != 0) return false;
        m_pos += n;
        return true;
    }
    bool AtEnd() const { return m_pos == m_str.size(); }
    // Hex digits up to the next non-digit, at most nMax of them.
    bool HexNumber(unsigned long& n, size_t nMax)
    {
        size_t nDigits = 0;
        n = 0;
        while (m_pos < m_str.size() && std::iswxdigit(m_str[m_pos]) && nDigits < nMax) {
            const wchar_t ch = static_cast<wchar_t>(std::towlower(m_str[m_pos++]));
            n = n * 16 + static_cast<unsigned long>(ch <= L'9' ? ch - L'0' : ch - L'a' + 10);
            ++nDigits;
        }
        return nDigits > 0;
    }
    // Comma-separated pairs of hex digits to the end.
    bool HexBytes(std::vector<BYTE>& data)
    {
        while (!AtEnd()) {
            unsigned long n = 0;
            const size_t nStart = m_pos;
            if (!HexNumber(n, 2) || m_pos - nStart != 2) return false;
            data.push_back(static_cast<BYTE>(n));
            if (!AtEnd() && (!Take(L',') || AtEnd())) return false;
        }
        return true;
    }

private:
    const std::wstring& m_str;
    size_t m_pos = 0;
};

bool ParseValueData(CLineParser& parser, RegistryValueChange& item)
{
    RegistryValue& value = item.value;
    if (parser.Take(L'-')) {
        item.bDelete = true;
        return parser.AtEnd();
    }
    std::wstring strText;
    if (parser.QuotedText(strText)) {
        value.dwType = REG_SZ;
        strText.push_back(L'\0');
        const BYTE* p = reinterpret_cast<const BYTE*>(strText.data());
        value.data.assign(p, p + strText.size() * sizeof(wchar_t));
        return parser.AtEnd();
    }
    unsigned long n = 0;
    if (parser.TakeText(L"dword:")) {
        value.dwType = REG_DWORD;
        if (!parser.HexNumber(n, 8) || !parser.AtEnd()) return false;
        for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<BYTE>(n >> (8 * i)));
        return true;
    }
    if (parser.TakeText(L"hex:")) {
        value.dwType = REG_BINARY;
        return parser.HexBytes(value.data);
    }
    if (!parser.TakeText(L"hex(") || !parser.HexNumber(n, 8) || !parser.TakeText(L"):")) return false;
    value.dwType = n;
    return parser.HexBytes(value.data);
}

std::vector<std::wstring> SplitLines(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    size_t nStart = 0;
    while (nStart < text.size()) {
        size_t nEnd = text.find(L"\r\n", nStart);
        if (nEnd == std::wstring::npos) nEnd = text.size();
        lines.push_back(text.substr(nStart, nEnd - nStart));
        nStart = nEnd + 2;
    }
    return lines;
}
}

namespace {
// The seal of the text up to the check line, with the key it names: the
// scope and None, or why it does not hold.
UndoFileProblem CheckSeal(const std::wstring& text, size_t nCheck, const UndoKeyReader& keys, KeyScope& scope,
                          std::wstring& strDetail)
{
    std::wstring strSeal = text.substr(nCheck + 2 + wcslen(CHECK_PREFIX));
    if (StartsWith(strSeal, MACHINE_SCOPE)) {
        scope = KeyScope::Machine;
        strSeal.erase(0, wcslen(MACHINE_SCOPE));
    } else if (StartsWith(strSeal, USER_SCOPE)) {
        scope = KeyScope::User;
        strSeal.erase(0, wcslen(USER_SCOPE));
    } else {
        strDetail = L"it has no seal of this utility";
        return UndoFileProblem::NotOurs;
    }
    std::vector<BYTE> key, expected, given;
    if (keys(scope, key) != ERROR_SUCCESS) {
        strDetail = L"its seal can only be checked with administrator rights";
        return UndoFileProblem::NoKey;
    }
    if (!HmacSha256(key, text.data(), (nCheck + 2) * sizeof(wchar_t), expected) ||
        strSeal.size() < 2 || strSeal.compare(strSeal.size() - 2, 2, L"\r\n") != 0 ||
        !HexBytes(strSeal.substr(0, strSeal.size() - 2), given) || given.size() != expected.size() ||
        !SameBytes(given.data(), expected.data(), given.size())) {
        strDetail = L"its seal does not match: it was changed, or not written by this utility on this computer";
        return UndoFileProblem::NotOurs;
    }
    return UndoFileProblem::None;
}

// Fills the header from the opening comment lines, once the seal holds.
bool ReadHeaderLine(const std::wstring& strLine, UndoFileHeader& header)
{
    if (StartsWith(strLine, UNDOES_PREFIX)) {
        const size_t nBegun = strLine.rfind(BEGUN_SEPARATOR);
        if (nBegun == std::wstring::npos || nBegun < wcslen(UNDOES_PREFIX)) return false;
        header.strAction = strLine.substr(wcslen(UNDOES_PREFIX), nBegun - wcslen(UNDOES_PREFIX));
        header.strTime = strLine.substr(nBegun + wcslen(BEGUN_SEPARATOR));
    } else if (StartsWith(strLine, COMPUTER_PREFIX)) {
        const size_t nUser = strLine.rfind(USER_SEPARATOR);
        if (nUser == std::wstring::npos || nUser < wcslen(COMPUTER_PREFIX)) return false;
        header.strComputer = strLine.substr(wcslen(COMPUTER_PREFIX), nUser - wcslen(COMPUTER_PREFIX));
        header.strUser = strLine.substr(nUser + wcslen(USER_SEPARATOR));
    } else if (StartsWith(strLine, TAKEN_PREFIX)) {
        return ReadSnapshotTime(strLine.substr(wcslen(TAKEN_PREFIX)), header.ftTaken);
    }
    return true;
}

// A key line's change; Unsafe for one no undo of ours makes.
UndoFileProblem ReadKeyLine(const std::wstring& strLine, KeyScope scope, RegistryKeyChange& change, std::wstring& strDetail)
{
    if (strLine.back() != L']') return UndoFileProblem::Damaged;
    change.bDelete = strLine.size() > 2 && strLine[1] == L'-';
    change.strPath = strLine.substr(change.bDelete ? 2 : 1, strLine.size() - (change.bDelete ? 3 : 2));
    const SnapshotRoot* pRoot = RootOfPath(change.strPath);
    if (!pRoot || !IsWellFormedKeyPath(change.strPath)) {
        strDetail += L": a key outside those this program covers, or a malformed key path";
        return UndoFileProblem::Unsafe;
    }
    if (change.bDelete && IsProtectedKey(change.strPath)) {
        strDetail += L": it deletes a key that no registration makes";
        return UndoFileProblem::Unsafe;
    }
    if (scope == KeyScope::User && pRoot->hRoot != HKEY_CURRENT_USER) {
        strDetail += L": a file sealed with a user's key changes the machine's keys";
        return UndoFileProblem::Unsafe;
    }
    return UndoFileProblem::None;
}
}

UndoFileProblem ParseUndoFile(const std::vector<BYTE>& bytes, std::vector<RegistryKeyChange>& changes,
                              std::wstring& strDetail, const UndoKeyReader& keys, UndoFileInfo* pInfo)
{
    changes.clear();
    UndoFileInfo info;
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) {
        strDetail = L"no UTF-16 byte-order mark";
        return UndoFileProblem::NotOurs;
    }
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
    const std::vector<std::wstring> lines = SplitLines(text);
    size_t nLine = 0;
    if (lines.empty() || lines[0] != FILE_FIRST_LINE) {
        strDetail = L"not a registry file";
        return UndoFileProblem::NotOurs;
    }
    for (nLine = 1; nLine < lines.size() && (lines[nLine].empty() || lines[nLine][0] == L';'); ++nLine)
        if (lines[nLine] == OUR_MARK) break;
    if (nLine >= lines.size() || lines[nLine] != OUR_MARK) {
        strDetail = L"a registry file this program did not write";
        return UndoFileProblem::NotOurs;
    }
    // The seal closes the file: anything cut off, changed or forged fails
    // it, and nothing of the file is believed before it holds.
    const size_t nCheck = text.rfind(std::wstring(L"\r\n") + CHECK_LEAD);
    if (nCheck == std::wstring::npos || bytes.size() % 2 || text.find(L"\r\n", nCheck + 2) != text.size() - 2) {
        strDetail = L"its closing check is missing: it was cut short";
        return UndoFileProblem::Damaged;
    }
    // A check of another kind (a checksum anyone can recompute) is no seal.
    if (text.compare(nCheck + 2, wcslen(CHECK_PREFIX), CHECK_PREFIX) != 0) {
        strDetail = L"it has no seal of this utility";
        return UndoFileProblem::NotOurs;
    }
    const UndoFileProblem sealProblem = CheckSeal(text, nCheck, keys, info.scope, strDetail);
    if (sealProblem != UndoFileProblem::None) return sealProblem;

    const size_t nBodyLines = lines.size() - 1;
    for (++nLine; nLine < nBodyLines && (lines[nLine].empty() || lines[nLine][0] == L';'); ++nLine)
        if (!ReadHeaderLine(lines[nLine], info.header)) {
            strDetail = L"line " + std::to_wstring(nLine + 1);
            return UndoFileProblem::Damaged;
        }
    if (info.header.ftTaken.dwHighDateTime == 0 && info.header.ftTaken.dwLowDateTime == 0) {
        strDetail = L"it does not say when its snapshot was taken";
        return UndoFileProblem::Damaged;
    }
    for (; nLine < nBodyLines; ++nLine) {
        std::wstring strLine = lines[nLine];
        strDetail = L"line " + std::to_wstring(nLine + 1);
        if (strLine.empty() || strLine[0] == L';') continue;
        if (strLine[0] == L'[') {
            RegistryKeyChange change;
            const UndoFileProblem problem = ReadKeyLine(strLine, info.scope, change, strDetail);
            if (problem != UndoFileProblem::None) return problem;
            changes.push_back(std::move(change));
            continue;
        }
        // Hex data may go on over lines that end with a backslash.
        while (strLine.back() == L'\\' && nLine + 1 < nBodyLines) {
            strLine.pop_back();
            const std::wstring& strNext = lines[++nLine];
            strLine += strNext.substr(std::min(strNext.find_first_not_of(L' '), strNext.size()));
        }
        CLineParser parser(strLine);
        RegistryValueChange item;
        if (changes.empty() || changes.back().bDelete || !parser.Name(item.value.strName) || !parser.Take(L'=') ||
            !ParseValueData(parser, item))
            return UndoFileProblem::Damaged;
        changes.back().values.push_back(std::move(item));
    }
    strDetail.clear();
    info.counts = CountChanges(changes);
    if (pInfo) *pInfo = std::move(info);
    return UndoFileProblem::None;
}

namespace {
typedef LONG(NTAPI* NtDeleteKeyFn)(HANDLE);

// Deletes the key and everything under it. Each key is opened as itself, so
// a symbolic link is deleted, never what it points to.
LONG DeleteTree(HKEY hParent, const std::wstring& strName, bool& bMade)
{
    static const NtDeleteKeyFn s_pDelete =
        reinterpret_cast<NtDeleteKeyFn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    HKEY hKey = nullptr;
    LONG nResult = RegOpenKeyExW(hParent, strName.c_str(), REG_OPTION_OPEN_LINK,
                                 KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE | SnapshotView(), &hKey);
    if (nResult == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (nResult != ERROR_SUCCESS) return nResult;
    std::vector<std::wstring> children;
    wchar_t szName[256] = L"";
    for (DWORD i = 0;; ++i) {
        DWORD nChars = 256;
        if (RegEnumKeyExW(hKey, i, szName, &nChars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.emplace_back(szName, nChars);
    }
    for (const std::wstring& strChild : children)
        if ((nResult = DeleteTree(hKey, strChild, bMade)) != ERROR_SUCCESS) break;
    if (nResult == ERROR_SUCCESS) nResult = s_pDelete && s_pDelete(hKey) == 0 ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    if (nResult == ERROR_SUCCESS) bMade = true;
    RegCloseKey(hKey);
    return nResult;
}

// bMade: something of the change was made, even when it then failed.
LONG ApplyChange(const RegistryKeyChange& change, bool& bMade)
{
    std::wstring strSubKey;
    const SnapshotRoot* pRoot = RootOfPath(change.strPath, &strSubKey);
    if (!pRoot) return ERROR_INVALID_PARAMETER;
    if (change.bDelete) {
        const size_t nSlash = strSubKey.rfind(L'\\');
        HKEY hParent = nullptr;
        const LONG nResult = RegOpenKeyExW(pRoot->hRoot, strSubKey.substr(0, nSlash).c_str(), 0,
                                           KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | SnapshotView(), &hParent);
        if (nResult == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
        if (nResult != ERROR_SUCCESS) return nResult;
        const LONG nDeleted = DeleteTree(hParent, strSubKey.substr(nSlash + 1), bMade);
        RegCloseKey(hParent);
        return nDeleted;
    }
    HKEY hKey = nullptr;
    DWORD dwDisposition = 0;
    LONG nResult = RegCreateKeyExW(pRoot->hRoot, strSubKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_SET_VALUE | KEY_QUERY_VALUE | SnapshotView(), nullptr, &hKey, &dwDisposition);
    if (nResult != ERROR_SUCCESS) return nResult;
    if (dwDisposition == REG_CREATED_NEW_KEY) bMade = true;
    for (const RegistryValueChange& item : change.values) {
        const RegistryValue& value = item.value;
        LONG nOne = item.bDelete ? RegDeleteValueW(hKey, value.strName.c_str())
                                 : RegSetValueExW(hKey, value.strName.c_str(), 0, value.dwType,
                                                  value.data.empty() ? nullptr : value.data.data(),
                                                  static_cast<DWORD>(value.data.size()));
        if (nOne == ERROR_SUCCESS) bMade = true;
        if (item.bDelete && nOne == ERROR_FILE_NOT_FOUND) nOne = ERROR_SUCCESS;
        if (nResult == ERROR_SUCCESS) nResult = nOne;
    }
    RegCloseKey(hKey);
    return nResult;
}
}

std::wstring FirstOlderDeletedKey(const std::vector<RegistryKeyChange>& changes, const FILETIME& ftTaken)
{
    for (const RegistryKeyChange& change : changes) {
        std::wstring strSubKey;
        const SnapshotRoot* pRoot = change.bDelete ? RootOfPath(change.strPath, &strSubKey) : nullptr;
        HKEY hKey = nullptr;
        if (!pRoot || RegOpenKeyExW(pRoot->hRoot, strSubKey.c_str(), REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | SnapshotView(),
                                    &hKey) != ERROR_SUCCESS)
            continue;
        FILETIME ftWrite = {};
        const bool bOlder = RegQueryInfoKeyW(hKey, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                             nullptr, nullptr, &ftWrite) == ERROR_SUCCESS &&
                            IsWrittenBefore(ftWrite, ftTaken);
        RegCloseKey(hKey);
        if (bOlder) return change.strPath;
    }
    return std::wstring();
}

bool ApplyRegistryChanges(const std::vector<RegistryKeyChange>& changes, DWORD& dwFirstError, std::wstring& strFirstKey,
                          bool* pbAnyMade)
{
    dwFirstError = ERROR_SUCCESS;
    bool bMade = false;
    if (pbAnyMade) *pbAnyMade = false;
    for (const RegistryKeyChange& change : changes) {
        const LONG nResult = ApplyChange(change, bMade);
        if (pbAnyMade) *pbAnyMade = bMade;
        if (nResult == ERROR_SUCCESS || dwFirstError != ERROR_SUCCESS) continue;
        dwFirstError = static_cast<DWORD>(nResult);
        strFirstKey = change.strPath;
    }
    return dwFirstError == ERROR_SUCCESS;
}
