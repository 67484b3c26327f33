#pragma once
// The sample Torvex application-services server: its COM objects, the class
// factory and registration, shared by the in-process and local-server builds.
#include <windows.h>
#include <ole2.h>
#include <Automation.h>

// Objects alive plus server locks; the server may unload or quit at zero.
LONG ServerObjectCount();
// Called when the count drops to zero (the local server quits then).
void SetServerIdleCallback(void (*pfnIdle)());

// Counts of calls received since the server started: interface methods, and
// AddRef/Release separately.
void GetServerCallCounts(LONG* pnMethods, LONG* pnRefCounts);

// A new class factory for the application-services class.
IClassFactory* CreateAppServicesFactory();

// Registry entries of the class under HKEY_CLASSES_ROOT. The in-process and
// local-server builds share the class; registering one removes the other's
// server key, so the last registered build is the one COM creates.
HRESULT RegisterAppServices(const wchar_t* pszModulePath, bool bLocalServer);
HRESULT UnregisterAppServices();
