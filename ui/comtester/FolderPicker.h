#pragma once
#include "framework/CString.h"

// The shell's folder picker, owned by hOwner, opening on strFolder when that
// folder exists; the chosen folder's path, or empty when the user cancels.
CString BrowseForFolder(HWND hOwner, const CString& strFolder, const CString& strTitle);
