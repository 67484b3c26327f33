#include "engine/undo/UndoJournalFiles.h"
#include "system/FileWrite.h"
#include "system/SystemMessage.h"
#include <algorithm>
#include <cstring>

namespace undo_journal {
namespace {

std::wstring ComputerName()
{
    wchar_t szName[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD nChars = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(szName, &nChars) ? szName : L"";
}

std::wstring UserName()
{
    wchar_t szName[257] = L"";
    DWORD nChars = 257;
    return GetUserNameW(szName, &nChars) ? szName : L"";
}
}

std::wstring Wide(const CString& str)
{
    return str.ToWide();
}

CString Narrow(const std::wstring& str)
{
    return CString::FromWide(str.c_str(), static_cast<int>(str.size()));
}

CString ErrorText(DWORD dwError)
{
    CString strText = SystemMessageText(dwError);
    if (strText.IsEmpty()) strText.Format("error %lu", dwError);
    return strText;
}

void AppendString(std::vector<BYTE>& out, const std::wstring& str)
{
    const uint32_t nChars = static_cast<uint32_t>(str.size());
    const BYTE* pCount = reinterpret_cast<const BYTE*>(&nChars);
    out.insert(out.end(), pCount, pCount + sizeof nChars);
    const BYTE* p = reinterpret_cast<const BYTE*>(str.data());
    out.insert(out.end(), p, p + str.size() * sizeof(wchar_t));
}

bool TakeString(const BYTE* pBytes, size_t nBytes, size_t& pos, std::wstring& str)
{
    uint32_t nChars = 0;
    if (pos > nBytes || nBytes - pos < sizeof nChars) return false;
    std::memcpy(&nChars, pBytes + pos, sizeof nChars);
    pos += sizeof nChars;
    if (nChars > 1024 || nBytes - pos < nChars * sizeof(wchar_t)) return false;
    str.assign(nChars, L'\0');
    if (nChars) std::memcpy(&str[0], pBytes + pos, nChars * sizeof(wchar_t));
    pos += nChars * sizeof(wchar_t);
    return true;
}

bool ReadWholeFile(HANDLE hFile, std::vector<BYTE>& bytes, DWORD& dwError)
{
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(hFile, &size)) {
        dwError = GetLastError();
        return false;
    }
    if (static_cast<unsigned long long>(size.QuadPart) > UNDO_FILE_LIMIT) {
        dwError = ERROR_FILE_TOO_LARGE;
        return false;
    }
    bytes.resize(static_cast<size_t>(size.QuadPart));
    size_t nDone = 0;
    while (nDone < bytes.size()) {
        DWORD nRead = 0;
        const DWORD nChunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - nDone, 1 << 20));
        if (!ReadFile(hFile, bytes.data() + nDone, nChunk, &nRead, nullptr) || nRead == 0) {
            dwError = nRead == 0 ? ERROR_HANDLE_EOF : GetLastError();
            return false;
        }
        nDone += nRead;
    }
    return true;
}

void WriteUndo(const std::vector<RegistryKeyChange>& changes, const std::wstring& strTarget, UndoFileHeader header,
               const UndoSeal& seal, UndoOutcome& outcome)
{
    if (changes.empty()) {
        DeleteFileW(strTarget.c_str());
        return;
    }
    header.strComputer = ComputerName();
    header.strUser = UserName();
    header.strUserSid = CurrentUserSid();
    outcome.counts = UndoCounts();
    const std::vector<BYTE> bytes = FormatUndoFile(changes, header, seal, &outcome.counts);
    const std::wstring strFolder = strTarget.substr(0, strTarget.rfind(L'\\'));
    const DWORD dwError = WriteFileWhole(strFolder, strTarget, bytes.data(), bytes.size(), true);
    outcome.bWritten = dwError == ERROR_SUCCESS;
    if (outcome.bWritten) outcome.strFile = strTarget;
    else outcome.strError = ErrorText(dwError);
}

std::vector<WIN32_FIND_DATAW> FolderFiles(const std::wstring& strFolder, const wchar_t* pszPattern)
{
    std::vector<WIN32_FIND_DATAW> files;
    WIN32_FIND_DATAW data = {};
    HANDLE hFind = FindFirstFileW((strFolder + L"\\" + pszPattern).c_str(), &data);
    if (hFind == INVALID_HANDLE_VALUE) return files;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(data);
    } while (FindNextFileW(hFind, &data));
    FindClose(hFind);
    return files;
}
}
