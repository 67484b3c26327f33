#pragma once
// "/undo <file>": applies an undo file without a window, and tells what an
// unfinished press left, for every unattended mode that may change things.
#include "framework/CString.h"
#include <vector>

// True for exactly "/undo <file>".
bool IsUndoRequest(const std::vector<CString>& args);

// What the command writes on standard output and standard error, and its
// exit code: 0 applied, 74 unreadable, damaged or not ours, or a change that
// failed, 77 without the rights to write the registry.
struct UndoAnswer {
    int nExitCode = 0;
    CString strOut;
    CString strErr;
};
UndoAnswer RunUndo(const CString& strFile);

// Completes the undo files that presses which never ended left unfinished,
// and gives one line for each; empty when there were none.
CString CompletedUndoText();
