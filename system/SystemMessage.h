#pragma once
#include "framework/CString.h"

// How a system message is wanted: exactly as the system gives it (its line
// ends kept), or as one line for a log, a report field or a verdict.
enum class MessageForm { AsGiven, OneLine };

// The system's text for an error code or HRESULT; empty when it has none.
// OneLine folds every run of line breaks into one space and drops the
// closing white space.
CString SystemMessageText(DWORD dwCode, MessageForm form = MessageForm::OneLine);

// The text with every run of line breaks folded into one space and the
// closing white space dropped.
CString OneLineText(const CString& strText);
