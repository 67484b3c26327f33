#pragma once
#include "framework/CString.h"

// Where a long piece of work (a verification, a register press, the wait
// for a server) shows that it goes on, and hears that it is to stop. The COM
// tester moves its bar, keeps the sheet painting and offers a way to stop; a
// report shows nothing and never stops, as the defaults do.
class CWorkProgress {
public:
    virtual ~CWorkProgress() = default;
    // Positions 0..nUpper follow.
    virtual void SetProgressRange(int nUpper);
    virtual void SetProgressPos(int nPos);
    // Called as a folder walk enters each folder.
    virtual void OnFolderEntered();
    // Called every tenth of a second or so while a server's run is waited
    // for: which file, and for how long so far.
    virtual void OnWaiting(const CString& strFile, DWORD dwElapsedMs);
    // True once the user has asked to stop; asked between steps and while
    // waiting. The work then ends as soon as it can.
    virtual bool IsStopRequested();
    // The stop asked for has been acted on (one server's run ended): later
    // work goes on until the next request.
    virtual void ResetStop();
};
