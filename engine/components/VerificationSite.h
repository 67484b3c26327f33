#pragma once
#include "framework/CString.h"

// The folders a verification searches: the tool's System folder (the COM
// tester's folder box, or a report's /folder) and the machine's Common Files
// folder.
struct VerificationFolders {
    CString strSystemFolder;
    CString strCommonFilesFolder;
};
