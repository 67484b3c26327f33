#pragma once
#include "projecttester/ProjectTestSite.h"

struct IAppServices;

// The work behind "Test Project", without a window: creates the automation
// server, opens the project at strPath and walks it into the site. A failed
// enumeration throws CComException, as in the page.
void RunProjectTest(CProjectTestSite& site, const CString& strPath);
// Creates the server object and fills *ppAppServices; false (with its line
// added) when that was not possible.
bool CreateAppServices(CProjectTestSite& site, IAppServices** ppAppServices);
