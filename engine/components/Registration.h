#pragma once
#include "engine/components/ComponentItem.h"
#include "engine/components/SelfRegistration.h"
#include "engine/components/VerificationSite.h"
#include "engine/components/WorkProgress.h"
#include <vector>

// The work behind "Register Selected" and "Unregister Selected": the records'
// paths are worked out first, with one walk of each folder tree for all of
// them, then each record's file runs its self-registration in the order
// given (null records are skipped). Each record keeps what the call did in
// lastAction, and its strRegistered says what the registry says afterwards:
// a server that refused to unregister still shows "Yes".
// Progress: the range 0..n, the walk, positions 1..n and back to 0; the
// progress also hears each server's run and may stop it, and the press ends
// there: the records not reached keep what they had, marked so. Servers run
// with the options given, and with progress as their progress; without
// helper processes in the options, the press starts its own (at most one
// per bitness, replaced when one ends) and ends them at its end. With a
// recording, its snapshot is taken before the first server runs (when it
// cannot be, no server runs and every record is left not reached), and the
// recording is ended after the last: its End() gives the undo file.
void RegisterRecords(const std::vector<ComponentItem*>& records, bool bRegister, const VerificationFolders& folders,
                     CWorkProgress& progress, RunOptions options = RunOptions());
