#pragma once
#include "framework/CString.h"
#include "engine/components/VerificationSite.h"
#include <vector>

// Where the authoring tool and the machine keep what the utility looks at,
// as their registry entries record it. Each value is read in both registry
// views, 32-bit first (the authoring tool is a 32-bit program), and the one
// naming an existing folder is taken, so that the 32- and 64-bit programs
// give one machine the same answers.

// The folder box's first text: the install location, a backslash when
// needed, and "System"; "System" alone when no location is recorded.
CString SystemFolderFromInstallLocation(const CString& strInstallLocation);
// The same, with the install location the tool recorded in the registry.
CString ToolSystemFolder();
// The machine's Common Files folders, from "CommonFilesDir" of both views and
// "CommonFilesDir (x86)": the existing ones, the 32-bit programs' first.
std::vector<CString> CommonFilesFolders();
// The first of them; empty when none is recorded.
CString CommonFilesFolder();
// The given System folder with the machine's Common Files folders.
VerificationFolders MachineFolders(const CString& strSystemFolder);
// The tool's project folder: the user's setting, else the machine's; the
// first naming an existing folder.
CString ProjectLocation();
