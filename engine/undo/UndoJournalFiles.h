#pragma once
// What the recording, the completion of left snapshots and the applying of
// undo files share: the files' names and limits, text conversions, whole-file
// reading and the writing of a sealed undo file.
#include "engine/undo/UndoJournal.h"
#include <string>
#include <vector>

namespace undo_journal {
const char PENDING_MAGIC[8] = {'F', 'S', 'P', 'E', 'N', 'D', '0', '2'};
const size_t SEAL_BYTES = 32;
const wchar_t SNAPSHOT_EXTENSION[] = L".snapshot";
const wchar_t UNDO_EXTENSION[] = L".reg";
const wchar_t SET_ASIDE_EXTENSION[] = L".unusable";

std::wstring Wide(const CString& str);
CString Narrow(const std::wstring& str);
CString ErrorText(DWORD dwError);
void AppendString(std::vector<BYTE>& out, const std::wstring& str);
bool TakeString(const BYTE* pBytes, size_t nBytes, size_t& pos, std::wstring& str);
// The whole file, up to a limit far beyond any the classes keys give.
bool ReadWholeFile(HANDLE hFile, std::vector<BYTE>& bytes, DWORD& dwError);
// The largest snapshot or undo file read back: far beyond any the classes
// keys give.
const unsigned long long UNDO_FILE_LIMIT = 1024ULL << 20;
// Writes the undo file of changes as strTarget, whole, in place of what is
// there: a press rewrites its own file as it goes. No changes: no file, and
// the press's earlier one is deleted.
void WriteUndo(const std::vector<RegistryKeyChange>& changes, const std::wstring& strTarget, UndoFileHeader header,
               const UndoSeal& seal, UndoOutcome& outcome);
// The files of the folder that match the pattern, with their times.
std::vector<WIN32_FIND_DATAW> FolderFiles(const std::wstring& strFolder, const wchar_t* pszPattern);
}
