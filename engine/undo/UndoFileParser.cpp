// Reading an undo file back: its seal first, then its header and changes,
// each key line held to the rules of what an undo of ours may change.
#include "engine/undo/UndoFile.h"
#include "engine/undo/UndoFileText.h"
#include "system/Crypto.h"
#include <algorithm>
#include <cstdio>
#include <cwctype>

using namespace undo_text;

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
    } else if (StartsWith(strLine, SID_PREFIX)) {
        // A SID names a hive under HKEY_USERS: "S-1-" and numbers only.
        header.strUserSid = strLine.substr(wcslen(SID_PREFIX));
        return StartsWith(header.strUserSid, L"S-1-") && header.strUserSid.size() < 200 &&
               header.strUserSid.find_first_not_of(L"S0123456789-") == std::wstring::npos;
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
    const bool bUserKeys = std::any_of(changes.begin(), changes.end(), [](const RegistryKeyChange& change) {
        return RootOfPath(change.strPath)->hRoot == HKEY_CURRENT_USER;
    });
    if (bUserKeys && info.header.strUserSid.empty()) {
        strDetail = L"it does not say whose user keys it changes";
        return UndoFileProblem::Damaged;
    }
    strDetail.clear();
    info.counts = CountChanges(changes);
    if (pInfo) *pInfo = std::move(info);
    return UndoFileProblem::None;
}

