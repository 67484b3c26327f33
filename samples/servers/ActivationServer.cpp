// Servers whose classes are registered soundly but create, or do not, as
// real ones do in the field. Installed under a catalogue file name each
// registers that entry's ProgID, with a CLSID of its own (derived from
// "KvActivation " and the ProgID), so that it never meets another sample's.
//   (none)                 the class creates
//   KV_REFUSES             DllGetClassObject answers CLASS_E_CLASSNOTAVAILABLE
//   KV_NO_MEMORY           CreateInstance answers E_OUTOFMEMORY (ThreadingModel Free)
//   KV_FAULTS              CreateInstance faults (access violation)
//   KV_HANGS               CreateInstance never returns
//   KV_NO_TYPELIB          the class names a type library that is not
//                          registered; its IDispatch cannot give type information
//   KV_LOCAL_SERVER        an executable: "-Embedding" registers its class
//                          object and then runs until it is ended
//   KV_LOCAL_SILENT        ... never registers it, and runs until it is ended
#include "CatalogueIdentity.h"
#include <objbase.h>
#include <oleauto.h>
#include <string>

namespace {
HMODULE g_hModule = nullptr;
LONG g_nObjects = 0;

// A type library that nobody registers.
const GUID LIBID_MISSING = {0x4B46A7E1, 0x2C3D, 0x4F21, {0x9A, 0x7B, 0x6E, 0x0D, 0x1C, 0x2B, 0x3A, 0x77}};

#ifdef KV_LOCAL_SERVER
const char c_szServerKey[] = "LocalServer32";
#else
const char c_szServerKey[] = "InprocServer32";
#endif

ServerIdentity Identity()
{
    ServerIdentity identity = CatalogueIdentity(ModulePath(g_hModule), "Kelvara.ActivationSample.1", c_szServerKey);
    identity.strClsid = DeriveClsid("KvActivation " + identity.strProgID);
    return identity;
}

[[maybe_unused]] bool IsOurClass(REFCLSID rclsid)
{
    wchar_t szClsid[40] = L"";
    StringFromGUID2(rclsid, szClsid, 40);
    const std::string strOurs = Identity().strClsid;
    return CompareStringOrdinal(szClsid, -1, std::wstring(strOurs.begin(), strOurs.end()).c_str(), -1, TRUE) == CSTR_EQUAL;
}

[[maybe_unused]] LONG SetValue(const std::string& strKey, const char* pszName, const std::string& strValue)
{
    HKEY hKey = nullptr;
    LONG nError = RegCreateKeyExA(HKEY_CLASSES_ROOT, strKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hKey, nullptr);
    if (nError != ERROR_SUCCESS) return nError;
    nError = RegSetValueExA(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(strValue.c_str()),
                            static_cast<DWORD>(strValue.size() + 1));
    RegCloseKey(hKey);
    return nError;
}

void DeleteValue(const std::string& strKey, const char* pszName)
{
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, strKey.c_str(), 0, KEY_SET_VALUE, &hKey) != ERROR_SUCCESS) return;
    RegDeleteValueA(hKey, pszName);
    RegCloseKey(hKey);
}

// What the class's key says beyond its server: the threading model, and the
// type library of a programmable class.
HRESULT WriteClassDetails(const ServerIdentity& identity)
{
    const std::string strClassKey = "CLSID\\" + identity.strClsid;
#ifndef KV_LOCAL_SERVER
#ifdef KV_NO_MEMORY
    const char* pszModel = "Free";
#else
    const char* pszModel = "Apartment";
#endif
    LONG nError = SetValue(strClassKey + "\\InprocServer32", "ThreadingModel", pszModel);
    if (nError != ERROR_SUCCESS) return HRESULT_FROM_WIN32(nError);
#endif
#ifdef KV_NO_TYPELIB
    wchar_t szLibid[40] = L"";
    StringFromGUID2(LIBID_MISSING, szLibid, 40);
    const std::wstring libid = szLibid;
    if (LONG nTypeLib = SetValue(strClassKey + "\\TypeLib", nullptr, std::string(libid.begin(), libid.end())))
        return HRESULT_FROM_WIN32(nTypeLib);
#endif
    return S_OK;
}

void RemoveClassDetails(const ServerIdentity& identity)
{
    const std::string strClassKey = "CLSID\\" + identity.strClsid;
    DeleteValue(strClassKey + "\\" + c_szServerKey, "ThreadingModel");
#ifdef KV_NO_TYPELIB
    RegDeleteKeyA(HKEY_CLASSES_ROOT, (strClassKey + "\\TypeLib").c_str());
#endif
}

// The sample's object: IUnknown, and IDispatch for the programmable class.
class CSampleObject : public IDispatch {
public:
    CSampleObject() { InterlockedIncrement(&g_nObjects); }
    virtual ~CSampleObject() { InterlockedDecrement(&g_nObjects); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
#ifdef KV_NO_TYPELIB
        const bool bDispatch = IsEqualIID(riid, IID_IDispatch);
#else
        const bool bDispatch = false;
#endif
        if (!IsEqualIID(riid, IID_IUnknown) && !bDispatch) return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_nRefs)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG nRefs = InterlockedDecrement(&m_nRefs);
        if (nRefs == 0) delete this;
        return static_cast<ULONG>(nRefs);
    }
    STDMETHODIMP GetTypeInfoCount(UINT* pnInfo) override
    {
        if (!pnInfo) return E_POINTER;
        *pnInfo = 1;
        return S_OK;
    }
    // As a class built on its type library answers: from the registered library.
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** ppInfo) override
    {
        if (!ppInfo) return E_POINTER;
        *ppInfo = nullptr;
        ITypeLib* pLib = nullptr;
        const HRESULT hr = LoadRegTypeLib(LIBID_MISSING, 1, 0, 0, &pLib);
        if (FAILED(hr)) return hr;
        pLib->Release();
        return TYPE_E_ELEMENTNOTFOUND;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }

private:
    LONG m_nRefs = 1;
};

class CSampleFactory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (pOuter) return CLASS_E_NOAGGREGATION;
#if defined(KV_NO_MEMORY)
        return E_OUTOFMEMORY;
#elif defined(KV_FAULTS)
        // Through a volatile pointer, so that the compiler cannot see the null.
        volatile int* volatile pTarget = nullptr;
        *pTarget = 0x4B56;
#elif defined(KV_HANGS)
        for (;;) Sleep(INFINITE);
#endif
        CSampleObject* pObject = new CSampleObject;
        const HRESULT hr = pObject->QueryInterface(riid, ppv);
        pObject->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

[[maybe_unused]] CSampleFactory g_factory;
} // namespace

#ifdef KV_LOCAL_SERVER

static bool HasSwitch(const char* pszCommandLine, const char* pszName)
{
    const std::string strLine = pszCommandLine;
    for (const char* pszLead : {"/", "-"}) {
        const std::string strSwitch = std::string(pszLead) + pszName;
        for (size_t nAt = strLine.find(strSwitch); nAt != std::string::npos; nAt = strLine.find(strSwitch, nAt + 1))
            if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, strLine.c_str() + nAt, static_cast<int>(strSwitch.size()),
                               strSwitch.c_str(), static_cast<int>(strSwitch.size())) == CSTR_EQUAL)
                return true;
    }
    return false;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR pszCommandLine, int)
{
    const ServerIdentity identity = Identity();
    if (HasSwitch(pszCommandLine, "regserver")) {
        HRESULT hr = WriteRegistration(identity);
        if (SUCCEEDED(hr)) hr = WriteClassDetails(identity);
        return SUCCEEDED(hr) ? 0 : 1;
    }
    if (HasSwitch(pszCommandLine, "unregserver")) {
        RemoveClassDetails(identity);
        return SUCCEEDED(RemoveRegistration(identity)) ? 0 : 1;
    }
#ifndef KV_LOCAL_SILENT
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CLSID clsid = {};
    const std::wstring strClsid(identity.strClsid.begin(), identity.strClsid.end());
    DWORD dwCookie = 0;
    if (SUCCEEDED(CLSIDFromString(strClsid.c_str(), &clsid)))
        CoRegisterClassObject(clsid, &g_factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &dwCookie);
    // It stays when its last object is released, as servers that wait for
    // a user do, until it is told to end: whoever started it for a check
    // ends it.
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    if (dwCookie) CoRevokeClassObject(dwCookie);
    CoUninitialize();
    return 0;
#else
    for (;;) Sleep(INFINITE);
#endif
}

#else

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD nReason, LPVOID)
{
    if (nReason == DLL_PROCESS_ATTACH) g_hModule = hInstance;
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
    const ServerIdentity identity = Identity();
    const HRESULT hr = WriteRegistration(identity);
    return SUCCEEDED(hr) ? WriteClassDetails(identity) : hr;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    const ServerIdentity identity = Identity();
    RemoveClassDetails(identity);
    return RemoveRegistration(identity);
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
#ifdef KV_REFUSES
    (void)rclsid;
    (void)riid;
    return CLASS_E_CLASSNOTAVAILABLE;
#else
    if (!IsOurClass(rclsid)) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, ppv);
#endif
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return g_nObjects == 0 ? S_OK : S_FALSE;
}

#endif
