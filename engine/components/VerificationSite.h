#pragma once
#include "framework/CString.h"

// The folders a verification searches: the tool's System folder (the COM
// tester's folder box, or a report's /folder) and the machine's Common Files
// folder.
struct VerificationFolders {
    CString strSystemFolder;
    CString strCommonFilesFolder;
};

// Where a long piece of work shows that it goes on: the COM tester moves its
// bar and keeps the sheet painting; a report shows nothing, as the defaults do.
class CVerificationProgress {
public:
    virtual ~CVerificationProgress() = default;
    // Positions 0..nUpper follow.
    virtual void SetProgressRange(int nUpper);
    virtual void SetProgressPos(int nPos);
    // Called as a folder walk enters each folder.
    virtual void OnFolderEntered();
};
