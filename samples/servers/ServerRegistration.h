#pragma once
// What every sample server does to register itself under HKEY_CLASSES_ROOT:
// "<ProgID>\Clsid" = "{CLSID}" and "CLSID\{CLSID}\<server key>" = its own path.
// Each server writes only these keys, and removes only what is still its own.
#include <windows.h>
#include <string>

struct ServerIdentity {
    std::string strPath;        // the server's own full path, in UTF-8
    std::string strProgID;      // empty: the server registers its CLSID only
    std::string strClsid;       // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
    const char* pszServerKey;   // "InprocServer32" or "LocalServer32"
};

// A CLSID made from a name: the same name (in any letter case) always
// gives the same CLSID.
std::string DeriveClsid(const std::string& strName);

// The full path of a module (null: the running executable), in UTF-8.
std::string ModulePath(HMODULE hModule);

// The identity of a server at strPath with a fixed ProgID.
ServerIdentity FixedIdentity(const std::string& strPath, const char* pszProgID,
                             const char* pszServerKey);

HRESULT WriteRegistration(const ServerIdentity& server);
// Removes the ProgID's "Clsid" key only while it names our CLSID, and the
// server key only while it names our path; parents only when left empty.
HRESULT RemoveRegistration(const ServerIdentity& server);
