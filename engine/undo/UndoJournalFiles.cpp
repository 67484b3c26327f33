#include "engine/undo/UndoJournalFiles.h"
#include "system/FileWrite.h"
#include "system/SystemMessage.h"
#include <algorithm>
#include <cstring>

namespace undo_journal {
namespace {
// The largest undo file read back: far beyond any the classes keys give.
const LONGLONG UNDO_FILE_LIMIT = 512LL << 20;

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

bool TakeString(const std::vector<BYTE>& bytes, size_t& pos, std::wstring& str)
{
    uint32_t nChars = 0;
    if (bytes.size() - pos < sizeof nChars) return false;
    std::memcpy(&nChars, bytes.data() + pos, sizeof nChars);
    pos += sizeof nChars;
    if (nChars > 1024 || bytes.size() - pos < nChars * sizeof(wchar_t)) return false;
    str.assign(reinterpret_cast<const wchar_t*>(bytes.data() + pos), nChars);
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
    if (size.QuadPart > UNDO_FILE_LIMIT) {
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

// Writes the undo file of changes beside the stem, under the first name
// not yet taken. No changes: no file.
void WriteUndo(const std::vector<RegistryKeyChange>& changes, const std::wstring& strStem, UndoFileHeader header,
               const UndoSeal& seal, UndoOutcome& outcome)
{
    if (changes.empty()) return;
    header.strComputer = ComputerName();
    header.strUser = UserName();
    header.strUserSid = CurrentUserSid();
    const std::vector<BYTE> bytes = FormatUndoFile(changes, header, seal, &outcome.counts);
    const std::wstring strFolder = strStem.substr(0, strStem.rfind(L'\\'));
    DWORD dwError = ERROR_SUCCESS;
    for (int n = 1; n < 100; ++n) {
        const std::wstring strPath = strStem + (n > 1 ? L" (" + std::to_wstring(n) + L")" : L"") + UNDO_EXTENSION;
        dwError = WriteFileWhole(strFolder, strPath, bytes.data(), bytes.size(), false);
        if (dwError == ERROR_ALREADY_EXISTS) continue;
        if (dwError == ERROR_SUCCESS) {
            outcome.bWritten = true;
            outcome.strFile = Narrow(strPath);
        }
        break;
    }
    if (!outcome.bWritten) outcome.strError = ErrorText(dwError);
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
