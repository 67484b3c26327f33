#pragma once
// "/check" and "/repair": what management tools run on many workstations
// (detection and remediation). Both answer with one line of compact JSON
// on standard output, short enough for tools that keep only the last line
// of a script's output: at most 2,048 characters.
#include "framework/CString.h"
#include "engine/undo/UndoJournal.h"
#include <string>
#include <vector>

// A row that is not sound: its file and its verdict.
struct CheckProblem {
    CString strFileName;
    CString strVerdict;
};

// What a check finds, and what a repair mended.
struct CheckOutcome {
    std::vector<CheckProblem> problems;   // every row whose verdict is not sound
    bool bRepair = false;                 // a repair ran
    std::vector<CString> repaired;        // the rows it mended
    UndoOutcome undo;                     // the undo file of what the repair changed
};

// Verifies every catalogue row, as the buttons do, and gives each row's
// verdict; a row is sound when it is registered and present (or present,
// without a ProgID to check). Changes nothing. With a time limit, each
// row's class is also created (/activate), within that limit per class: a
// class that does not create makes its row a problem.
CheckOutcome RunCheck(const CString& strSystemFolder, DWORD dwActivationLimitMs = 0);
// Registers every row that registering can mend (servers of the other
// bitness through the sibling, each run within the time limit), leaves the
// rest alone, then checks again. The caller has made sure that the
// machine's registry may be written. What the servers change is kept in an
// undo file; when it cannot be kept, nothing runs and the outcome is the
// first check's, with undo.strError saying why.
CheckOutcome RunRepair(const CString& strSystemFolder, DWORD dwTimeLimitMs);

// {"status":"sound"|"problems","problems":N,"rows":[{"file":..,"verdict":..}...],
//  "omitted":K} plus, after a repair, "repaired":[..] and "undo":{"file":..,
// "keys":N,"values":M}, or "undo":{"file":null,"why":..} when it left none:
// as many rows as fit.
std::string FormatCheckLine(const CheckOutcome& outcome);
// The longest line the management tools keep.
constexpr size_t CHECK_LINE_LIMIT = 2048;
