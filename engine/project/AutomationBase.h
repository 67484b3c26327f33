#pragma once
// Stands in for the header of AutomationBase.idl: the generated Automation.h
// includes it, and the system's own declarations of the base types are the
// ones to use.
#include <windows.h>
#include <ole2.h>
#include <oaidl.h>
