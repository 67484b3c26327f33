#pragma once
// Runs foreign code (a server's initialisation or entry point, in the helper
// process that runs servers) so that an exception it does not handle itself,
// a processor fault such as an access violation or a thrown exception of any
// kind, ends the call, not the process. A fault in a window procedure that
// the system called back is beyond it on 64-bit Windows: that one ends the
// helper, and the utility says so.
#include <windows.h>

// Calls pfn(pContext). Returns 0 when it returned, else the code of the
// exception that escaped it; the frames in between are unwound first.
DWORD CallFaultGuarded(void (*pfn)(void* pContext), void* pContext);

// Where the last processor fault that the guard caught happened; null after
// a thrown exception or before any fault.
void* LastGuardedFaultAddress();
