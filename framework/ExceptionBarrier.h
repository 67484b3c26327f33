#pragma once
#include <windows.h>

// Reports the exception being handled (call it only inside a catch block):
// a framework exception goes to the program's ProcessWndProcException,
// anything else is wrapped and reported the same way.
void ReportEscapedException(const MSG& msg);

// Runs one message handler so that no C++ exception unwinds through a Win32
// callback frame. Returns the handler's result, or 'handled' when an
// exception was reported instead.
template <class Handler>
INT_PTR CallGuarded(const MSG& msg, INT_PTR handled, Handler&& handler)
{
    try {
        return handler();
    } catch (...) {
        ReportEscapedException(msg);
        return handled;
    }
}
