#pragma once
#include "engine/project/ProjectRunSink.h"

struct IAppServices;

// The work behind "Test Project", without a window: creates the automation
// server, opens the project at strPath and walks it into the sink. A failed
// enumeration throws CComException, as in the page.
void RunProjectTest(CProjectRunSink& sink, const CString& strPath);
// Creates the server object and fills *ppAppServices; false (with its line
// added) when that was not possible.
bool CreateAppServices(CProjectRunSink& sink, IAppServices** ppAppServices);
