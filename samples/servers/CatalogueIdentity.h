#pragma once
#include "ServerRegistration.h"

// The identity of a generic server: the catalogue's ProgID for the file name
// it is installed under (possibly empty), else pszDefaultProgID.
ServerIdentity CatalogueIdentity(const std::string& strPath, const char* pszDefaultProgID,
                                 const char* pszServerKey);
