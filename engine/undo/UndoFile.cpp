#include "engine/undo/UndoFile.h"
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwctype>

namespace {
const wchar_t FILE_FIRST_LINE[] = L"Windows Registry Editor Version 5.00";
const wchar_t OUR_MARK[] = L"; Forge Support undo file";
const wchar_t CHECK_PREFIX[] = L"; End of undo file. Check: ";
const size_t HEX_LINE_WIDTH = 77;

// FNV-1a over the text's UTF-16 code units.
uint64_t TextCheck(const wchar_t* pText, size_t nChars)
{
    uint64_t nHash = 14695981039346656037ULL;
    for (size_t i = 0; i < nChars; ++i) {
        nHash = (nHash ^ (pText[i] & 0xFF)) * 1099511628211ULL;
        nHash = (nHash ^ (static_cast<unsigned>(pText[i]) >> 8)) * 1099511628211ULL;
    }
    return nHash;
}

std::wstring CheckText(uint64_t nHash)
{
    wchar_t szHex[17] = L"";
    swprintf(szHex, 17, L"%016llx", static_cast<unsigned long long>(nHash));
    return szHex;
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

std::vector<BYTE> FormatUndoFile(const std::vector<RegistryKeyChange>& changes, const UndoFileHeader& header,
                                 UndoCounts* pCounts)
{
    std::wstring body, skipped;
    UndoCounts counts;
    for (const RegistryKeyChange& change : changes) {
        if (HasControlCharacter(change.strPath)) {
            skipped += L"; Left out, its name has control characters: a key under " + OneLine(change.strPath) + L"\r\n";
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
    text += L"; Undoes: " + OneLine(header.strAction) + L", begun " + OneLine(header.strTime) + L"\r\n";
    text += L"; Computer: " + OneLine(header.strComputer) + L", user: " + OneLine(header.strUser) + L"\r\n";
    text += L"; Restores " + std::to_wstring(counts.nKeys) + L" keys and " + std::to_wstring(counts.nValues) + L" values.\r\n";
    text += L"; Apply with: ForgeSupport.exe /undo \"<this file>\", or: reg import \"<this file>\" /reg:64\r\n";
    if (!header.strNote.empty()) text += L"; " + OneLine(header.strNote) + L"\r\n";
    text += skipped + body + L"\r\n";
    text += CHECK_PREFIX + CheckText(TextCheck(text.data(), text.size())) + L"\r\n";

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

UndoFileProblem ParseUndoFile(const std::vector<BYTE>& bytes, std::vector<RegistryKeyChange>& changes,
                              std::wstring& strDetail)
{
    changes.clear();
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
    // The check closes the file: anything cut off or changed fails it.
    const size_t nCheck = text.rfind(std::wstring(L"\r\n") + CHECK_PREFIX);
    const size_t nCheckText = nCheck + 2 + wcslen(CHECK_PREFIX);
    if (nCheck == std::wstring::npos || bytes.size() % 2 ||
        text.compare(nCheckText, std::wstring::npos, CheckText(TextCheck(text.data(), nCheck + 2)) + L"\r\n") != 0) {
        strDetail = L"its closing check does not match its contents";
        return UndoFileProblem::Damaged;
    }
    // The check line, whole and last, is the file's last line.
    const size_t nBodyLines = lines.size() - 1;
    for (++nLine; nLine < nBodyLines; ++nLine) {
        std::wstring strLine = lines[nLine];
        strDetail = L"line " + std::to_wstring(nLine + 1);
        if (strLine.empty() || strLine[0] == L';') continue;
        if (strLine[0] == L'[') {
            if (strLine.back() != L']') return UndoFileProblem::Damaged;
            RegistryKeyChange change;
            change.bDelete = strLine.size() > 2 && strLine[1] == L'-';
            change.strPath = strLine.substr(change.bDelete ? 2 : 1, strLine.size() - (change.bDelete ? 3 : 2));
            // A whole root is never ours to delete: such a file is not one we wrote.
            const SnapshotRoot* pRoot = RootOfPath(change.strPath);
            if (!pRoot || (change.bDelete && change.strPath.size() == wcslen(pRoot->pszPath))) {
                strDetail += L": a key outside those this program covers";
                return UndoFileProblem::NotOurs;
            }
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
    return UndoFileProblem::None;
}

namespace {
typedef LONG(NTAPI* NtDeleteKeyFn)(HANDLE);

// Deletes the key and everything under it. Each key is opened as itself, so
// a symbolic link is deleted, never what it points to.
LONG DeleteTree(HKEY hParent, const std::wstring& strName)
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
        if ((nResult = DeleteTree(hKey, strChild)) != ERROR_SUCCESS) break;
    if (nResult == ERROR_SUCCESS) nResult = s_pDelete && s_pDelete(hKey) == 0 ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    RegCloseKey(hKey);
    return nResult;
}

LONG ApplyChange(const RegistryKeyChange& change)
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
        const LONG nDeleted = DeleteTree(hParent, strSubKey.substr(nSlash + 1));
        RegCloseKey(hParent);
        return nDeleted;
    }
    HKEY hKey = nullptr;
    LONG nResult = RegCreateKeyExW(pRoot->hRoot, strSubKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_SET_VALUE | KEY_QUERY_VALUE | SnapshotView(), nullptr, &hKey, nullptr);
    if (nResult != ERROR_SUCCESS) return nResult;
    for (const RegistryValueChange& item : change.values) {
        const RegistryValue& value = item.value;
        LONG nOne = item.bDelete ? RegDeleteValueW(hKey, value.strName.c_str())
                                 : RegSetValueExW(hKey, value.strName.c_str(), 0, value.dwType,
                                                  value.data.empty() ? nullptr : value.data.data(),
                                                  static_cast<DWORD>(value.data.size()));
        if (item.bDelete && nOne == ERROR_FILE_NOT_FOUND) nOne = ERROR_SUCCESS;
        if (nResult == ERROR_SUCCESS) nResult = nOne;
    }
    RegCloseKey(hKey);
    return nResult;
}
}

bool ApplyRegistryChanges(const std::vector<RegistryKeyChange>& changes, DWORD& dwFirstError, std::wstring& strFirstKey)
{
    dwFirstError = ERROR_SUCCESS;
    for (const RegistryKeyChange& change : changes) {
        const LONG nResult = ApplyChange(change);
        if (nResult == ERROR_SUCCESS || dwFirstError != ERROR_SUCCESS) continue;
        dwFirstError = static_cast<DWORD>(nResult);
        strFirstKey = change.strPath;
    }
    return dwFirstError == ERROR_SUCCESS;
}
