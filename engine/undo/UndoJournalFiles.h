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
bool TakeString(const std::vector<BYTE>& bytes, size_t& pos, std::wstring& str);
// The whole file, up to a limit far beyond any the classes keys give.
bool ReadWholeFile(HANDLE hFile, std::vector<BYTE>& bytes, DWORD& dwError);
// Writes the undo file of changes beside the stem, under the first name
// not yet taken. No changes: no file.
void WriteUndo(const std::vector<RegistryKeyChange>& changes, const std::wstring& strStem, UndoFileHeader header,
               const UndoSeal& seal, UndoOutcome& outcome);
// The files of the folder that match the pattern, with their times.
std::vector<WIN32_FIND_DATAW> FolderFiles(const std::wstring& strFolder, const wchar_t* pszPattern);
}
