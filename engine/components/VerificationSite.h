#pragma once
#include "framework/CString.h"
#include <vector>

// The folders a verification searches: the tool's System folder (the COM
// tester's folder box, or a report's /folder) and the machine's Common Files
// folder.
struct VerificationFolders {
    CString strSystemFolder;
    CString strCommonFilesFolder;
    // Further Common Files folders (the other registry view's), searched in
    // turn for what the first does not hold.
    std::vector<CString> otherCommonFilesFolders{};
};
