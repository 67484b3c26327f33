#pragma once
#include <windows.h>

// The module that holds the program's dialogs, strings and icons: the
// executable itself (a test program links the same resources into its own).
inline HINSTANCE ResourceInstance() { return GetModuleHandleA(nullptr); }
