#pragma once
#include "framework/CString.h"
#include "engine/components/VerificationSite.h"

// Where the authoring tool and the machine keep what the utility looks at,
// as their registry entries record it.

// The folder box's first text: the install location, a backslash when
// needed, and "System"; "System" alone when no location is recorded.
CString SystemFolderFromInstallLocation(const CString& strInstallLocation);
// The same, with the install location the tool recorded in the registry.
CString ToolSystemFolder();
// "CommonFilesDir" of the machine's current-version key; empty when absent.
CString CommonFilesFolder();
// The given System folder with the machine's Common Files folder.
VerificationFolders MachineFolders(const CString& strSystemFolder);
// The tool's project folder: the user's setting, else the machine's.
CString ProjectLocation();
