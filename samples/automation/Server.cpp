#include "Server.h"
#include "ProjectFile.h"
#include <memory>
#include <string>

namespace {
LONG g_nObjects = 0;
LONG g_nMethodCalls = 0;
LONG g_nRefCountCalls = 0;
void (*g_pfnIdle)() = nullptr;

void ObjectCreated() { InterlockedIncrement(&g_nObjects); }
void ObjectDestroyed()
{
    if (InterlockedDecrement(&g_nObjects) == 0 && g_pfnIdle) g_pfnIdle();
}

// Whether TORVEX_APPSERVICES_LOG_CALLS, a list of call names separated by
// spaces, names the call; without the variable every call is logged.
bool CallIsLogged(const char* pszCall)
{
    char szCalls[512];
    const DWORD n = GetEnvironmentVariableA("TORVEX_APPSERVICES_LOG_CALLS", szCalls, sizeof szCalls);
    if (n == 0 || n >= sizeof szCalls) return true;
    const std::string calls = std::string(" ") + szCalls + " ";
    return calls.find(std::string(" ") + pszCall + " ") != std::string::npos;
}

// Appends the call's name to the file that TORVEX_APPSERVICES_LOG names, so
// a test can see which calls arrived (Close above all). Opening the file for
// each call is slow: a test logs only the calls it checks.
void LogCall(const char* pszCall)
{
    wchar_t szPath[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"TORVEX_APPSERVICES_LOG", szPath, MAX_PATH);
    if (n == 0 || n >= MAX_PATH || !CallIsLogged(pszCall)) return;
    HANDLE hFile = CreateFileW(szPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) return;
    const std::string line = std::string(pszCall) + "\r\n";
    DWORD written = 0;
    WriteFile(hFile, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(hFile);
}

bool HasOption(const wchar_t* pszOption)
{
    wchar_t szOptions[512];
    const DWORD n = GetEnvironmentVariableW(L"TORVEX_APPSERVICES_OPTIONS", szOptions, 512);
    return n > 0 && n < 512 && wcsstr(szOptions, pszOption) != nullptr;
}

void SetErrorObject(const Fault& fault, REFIID riid)
{
    ICreateErrorInfo* pCreate = nullptr;
    if (FAILED(CreateErrorInfo(&pCreate))) return;
    pCreate->SetGUID(riid);
    if (!fault.strSource.empty()) pCreate->SetSource(const_cast<LPOLESTR>(fault.strSource.c_str()));
    if (!fault.strDescription.empty()) pCreate->SetDescription(const_cast<LPOLESTR>(fault.strDescription.c_str()));
    IErrorInfo* pInfo = nullptr;
    if (SUCCEEDED(pCreate->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&pInfo)))) {
        SetErrorInfo(0, pInfo);
        pInfo->Release();
    }
    pCreate->Release();
}

// What the project's directives say about one arriving call: it is logged
// and counted, made slow, given an error object, and the result to give.
struct CallOutcome {
    HRESULT hr = S_OK;
    bool bNull = false;
    bool bKeepResult = false;
};

void CountAndLog(const char* pszCall)
{
    InterlockedIncrement(&g_nMethodCalls);
    LogCall(pszCall);
}

CallOutcome ApplyDirectives(const ProjectData* pProject, const char* pszCall, REFIID riid,
                            const std::wstring* pFeature = nullptr)
{
    CallOutcome outcome;
    if (!pProject) return outcome;
    if (const Fault* pSlow = pProject->FindFault(FaultKind::Slow, pszCall, pFeature)) Sleep(pSlow->dwMilliseconds);
    if (const Fault* pError = pProject->FindFault(FaultKind::Error, pszCall, pFeature)) SetErrorObject(*pError, riid);
    if (const Fault* pFail = pProject->FindFault(FaultKind::Fail, pszCall, pFeature)) {
        outcome.hr = pFail->hr;
        outcome.bKeepResult = pFail->bKeepResult;
    }
    outcome.bNull = pProject->FindFault(FaultKind::Null, pszCall, pFeature) != nullptr;
    return outcome;
}

using ProjectPtr = std::shared_ptr<const ProjectData>;

// Reference counting and QueryInterface for one interface; the object counts
// toward the server's life.
template <class Interface>
class CObjectBase : public Interface {
public:
    CObjectBase(ProjectPtr project, REFIID riid) : m_project(std::move(project)), m_riid(riid) { ObjectCreated(); }
    virtual ~CObjectBase() { ObjectDestroyed(); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        InterlockedIncrement(&g_nMethodCalls);
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, m_riid)) *ppv = static_cast<Interface*>(this);
        else *ppv = QueryOther(riid);
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override
    {
        InterlockedIncrement(&g_nRefCountCalls);
        return static_cast<ULONG>(InterlockedIncrement(&m_nRefs));
    }
    STDMETHODIMP_(ULONG) Release() override
    {
        InterlockedIncrement(&g_nRefCountCalls);
        const LONG n = InterlockedDecrement(&m_nRefs);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }

protected:
    // Another interface that this object answers, without a reference yet.
    virtual void* QueryOther(REFIID) { return nullptr; }
    const ProjectData* Project() const { return m_project.get(); }
    // An arriving call: counted, logged, and spoilt as the directives say.
    CallOutcome Receive(const char* pszCall, const std::wstring* pFeature = nullptr) const
    {
        CountAndLog(pszCall);
        return ApplyDirectives(m_project.get(), pszCall, m_riid, pFeature);
    }
    // The directives for a query, which the base QueryInterface counts.
    CallOutcome Directives(const char* pszCall, const std::wstring* pFeature = nullptr) const
    {
        return ApplyDirectives(m_project.get(), pszCall, m_riid, pFeature);
    }
    ProjectPtr m_project;

private:
    const IID m_riid;
    LONG m_nRefs = 1;
};

#define RESERVED(n) STDMETHODIMP Reserved##n() override { return E_NOTIMPL; }

// Hands out a new reference unless the directives ask for a null one.
template <class T, class Out>
HRESULT GiveObject(const CallOutcome& outcome, T* pNew, Out** ppOut)
{
    if (!ppOut) { if (pNew) pNew->Release(); return E_POINTER; }
    *ppOut = nullptr;
    if (FAILED(outcome.hr) || outcome.bNull) {
        if (pNew) pNew->Release();
        return outcome.hr;
    }
    *ppOut = pNew;
    return outcome.hr;
}

class CFeatures;

class CFeature : public CObjectBase<IFeature> {
public:
    CFeature(ProjectPtr project, int nNode) : CObjectBase(std::move(project), IID_IFeature), m_nNode(nNode) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IFeature)) {
            const CallOutcome outcome = Directives("QueryIFeature", &Node().strName);
            if (FAILED(outcome.hr)) { if (ppv) *ppv = nullptr; return outcome.hr; }
        }
        return CObjectBase::QueryInterface(riid, ppv);
    }
    RESERVED(3) RESERVED(4) RESERVED(5) RESERVED(6) RESERVED(7) RESERVED(8) RESERVED(10)
    STDMETHODIMP get_SubFeatures(IFeatures** ppFeatures) override;
    STDMETHODIMP get_Name(BSTR* pbstrName) override
    {
        const CallOutcome outcome = Receive("get_Name", &Node().strName);
        if (!pbstrName) return E_POINTER;
        *pbstrName = nullptr;
        if (FAILED(outcome.hr) || outcome.bNull) return outcome.hr;
        *pbstrName = SysAllocStringLen(Node().strName.data(), static_cast<UINT>(Node().strName.size()));
        return *pbstrName ? outcome.hr : E_OUTOFMEMORY;
    }
private:
    const FeatureNode& Node() const { return Project()->nodes[static_cast<size_t>(m_nNode)]; }
    int m_nNode;
};

// Enumerates one list of features: the product's, or a feature's children.
class CFeatureEnum : public CObjectBase<IEnumVARIANT> {
public:
    CFeatureEnum(ProjectPtr project, const std::vector<int>& list)
        : CObjectBase(std::move(project), IID_IEnumVARIANT), m_list(list) {}
    STDMETHODIMP Next(ULONG celt, VARIANT* rgVar, ULONG* pnFetched) override
    {
        CountAndLog("Next");
        if (pnFetched) *pnFetched = 0;
        if (!rgVar || (celt > 1 && !pnFetched)) return E_POINTER;
        ULONG n = 0;
        for (; n < celt && m_nPosition < m_list.size(); ++n) {
            const int nNode = m_list[m_nPosition];
            const FeatureNode& node = Project()->nodes[static_cast<size_t>(nNode)];
            if (const Fault* pFail = Project()->FindFault(FaultKind::Fail, "Next", &node.strName)) {
                if (const Fault* pError = Project()->FindFault(FaultKind::Error, "Next", &node.strName))
                    SetErrorObject(*pError, IID_IEnumVARIANT);
                for (ULONG i = 0; i < n; ++i) VariantClear(&rgVar[i]);
                return pFail->hr;
            }
            ++m_nPosition;
            VariantInit(&rgVar[n]);
            switch (node.element) {
            case ElementKind::Number: V_VT(&rgVar[n]) = VT_I4; V_I4(&rgVar[n]) = 42; break;
            case ElementKind::NullUnknown: V_VT(&rgVar[n]) = VT_UNKNOWN; V_UNKNOWN(&rgVar[n]) = nullptr; break;
            case ElementKind::NullDispatch: V_VT(&rgVar[n]) = VT_DISPATCH; V_DISPATCH(&rgVar[n]) = nullptr; break;
            case ElementKind::Object:
                V_VT(&rgVar[n]) = VT_UNKNOWN;
                V_UNKNOWN(&rgVar[n]) = static_cast<IFeature*>(new CFeature(m_project, nNode));
                break;
            }
        }
        if (pnFetched) *pnFetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG celt) override
    {
        InterlockedIncrement(&g_nMethodCalls);
        const size_t left = m_list.size() - m_nPosition;
        m_nPosition += celt < left ? celt : left;
        return celt <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override { InterlockedIncrement(&g_nMethodCalls); m_nPosition = 0; return S_OK; }
    STDMETHODIMP Clone(IEnumVARIANT** ppEnum) override
    {
        InterlockedIncrement(&g_nMethodCalls);
        if (!ppEnum) return E_POINTER;
        auto* pClone = new CFeatureEnum(m_project, m_list);
        pClone->m_nPosition = m_nPosition;
        *ppEnum = pClone;
        return S_OK;
    }
private:
    const std::vector<int>& m_list;   // lives in the project, which we hold
    size_t m_nPosition = 0;
};

class CFeatures : public CObjectBase<IFeatures> {
public:
    // nOwner is the feature whose sub-features these are, or -1 for the product.
    CFeatures(ProjectPtr project, int nOwner) : CObjectBase(std::move(project), IID_IFeatures), m_nOwner(nOwner) {}
    RESERVED(3) RESERVED(4) RESERVED(5) RESERVED(6) RESERVED(7) RESERVED(8) RESERVED(9)
    STDMETHODIMP get__NewEnum(IEnumVARIANT** ppEnum) override
    {
        const std::wstring* pOwner = m_nOwner < 0 ? nullptr : &Project()->nodes[static_cast<size_t>(m_nOwner)].strName;
        const CallOutcome outcome = Receive("get__NewEnum", pOwner);
        const bool bProduct = m_nOwner < 0 || Project()->nodes[static_cast<size_t>(m_nOwner)].bSubFeaturesAreProduct;
        const std::vector<int>& list = bProduct ? Project()->roots : Project()->nodes[static_cast<size_t>(m_nOwner)].children;
        return GiveObject(outcome, FAILED(outcome.hr) ? nullptr : new CFeatureEnum(m_project, list), ppEnum);
    }
private:
    int m_nOwner;
};

STDMETHODIMP CFeature::get_SubFeatures(IFeatures** ppFeatures)
{
    const CallOutcome outcome = Receive("get_SubFeatures", &Node().strName);
    return GiveObject(outcome, FAILED(outcome.hr) ? nullptr : new CFeatures(m_project, m_nNode), ppFeatures);
}

class CProduct : public CObjectBase<IProduct> {
public:
    explicit CProduct(ProjectPtr project) : CObjectBase(std::move(project), IID_IProduct) {}
    RESERVED(3) RESERVED(4) RESERVED(5) RESERVED(6) RESERVED(7)
    STDMETHODIMP get_Features(IFeatures** ppFeatures) override
    {
        const CallOutcome outcome = Receive("get_Features");
        return GiveObject(outcome, FAILED(outcome.hr) ? nullptr : new CFeatures(m_project, -1), ppFeatures);
    }
};

#define RESERVED_9_TO_41 \
    RESERVED(9) RESERVED(10) RESERVED(11) RESERVED(12) RESERVED(13) RESERVED(14) RESERVED(15) RESERVED(16) \
    RESERVED(17) RESERVED(18) RESERVED(19) RESERVED(20) RESERVED(21) RESERVED(22) RESERVED(23) RESERVED(24) \
    RESERVED(25) RESERVED(26) RESERVED(27) RESERVED(28) RESERVED(29) RESERVED(30) RESERVED(31) RESERVED(32) \
    RESERVED(33) RESERVED(34) RESERVED(35) RESERVED(36) RESERVED(37) RESERVED(38) RESERVED(39) RESERVED(40) RESERVED(41)

class CProjectRoot : public CObjectBase<IProjectRoot> {
public:
    explicit CProjectRoot(ProjectPtr project) : CObjectBase(std::move(project), IID_IProjectRoot) {}
    RESERVED(3) RESERVED(4) RESERVED(5) RESERVED(6) RESERVED(7) RESERVED_9_TO_41
    STDMETHODIMP get_ActiveProduct(IProduct** ppProduct) override
    {
        const CallOutcome outcome = Receive("get_ActiveProduct");
        return GiveObject(outcome, FAILED(outcome.hr) ? nullptr : new CProduct(m_project), ppProduct);
    }
    STDMETHODIMP get_Type(long* pnType) override
    {
        const CallOutcome outcome = Receive("get_Type");
        if (!pnType) return E_POINTER;
        *pnType = FAILED(outcome.hr) ? 0 : Project()->nType;
        return outcome.hr;
    }
};

// The project also answers IProjectInfo when its file says so; that part is
// a second table on the same object.
class CProject : public CObjectBase<IProject> {
public:
    explicit CProject(ProjectPtr project) : CObjectBase(std::move(project), IID_IProject), m_info(*this) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IProject)) {
            const CallOutcome outcome = Directives("QueryIProject");
            if (FAILED(outcome.hr) || outcome.bNull) { if (ppv) *ppv = nullptr; return outcome.hr; }
        }
        return CObjectBase::QueryInterface(riid, ppv);
    }
    RESERVED(3) RESERVED(4) RESERVED(5) RESERVED(6) RESERVED(7) RESERVED(8) RESERVED(9) RESERVED(10)
    RESERVED(11) RESERVED(12) RESERVED(13)
    STDMETHODIMP get_ProjectRoot(IProjectRoot** ppRoot) override
    {
        const CallOutcome outcome = Receive("get_ProjectRoot");
        return GiveObject(outcome, FAILED(outcome.hr) ? nullptr : new CProjectRoot(m_project), ppRoot);
    }
    STDMETHODIMP Close() override { return Receive("Close").hr; }

protected:
    void* QueryOther(REFIID riid) override
    {
        if (IsEqualIID(riid, IID_IProjectInfo) && Project()->bAnswersProjectInfo) return static_cast<IProjectInfo*>(&m_info);
        return nullptr;
    }

private:
    class CInfo : public IProjectInfo {
    public:
        explicit CInfo(CProject& owner) : m_owner(owner) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return m_owner.QueryInterface(riid, ppv); }
        STDMETHODIMP_(ULONG) AddRef() override { return m_owner.AddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return m_owner.Release(); }
        RESERVED(3) RESERVED(4) RESERVED(5) RESERVED(6) RESERVED(7) RESERVED(8) RESERVED_9_TO_41
        STDMETHODIMP get_ScriptBased(VARIANT_BOOL* pbScriptBased) override
        {
            const CallOutcome outcome = m_owner.Receive("get_ScriptBased");
            if (!pbScriptBased) return E_POINTER;
            *pbScriptBased = !FAILED(outcome.hr) && m_owner.Project()->bScriptBased ? VARIANT_TRUE : VARIANT_FALSE;
            return outcome.hr;
        }
    private:
        CProject& m_owner;
    };
    CInfo m_info;
};

class CAppServices : public CObjectBase<IAppServices> {
public:
    CAppServices() : CObjectBase(nullptr, IID_IAppServices) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        // TORVEX_APPSERVICES_OPTIONS=refuse-appservices: created, but without the interface.
        if (IsEqualIID(riid, IID_IAppServices) && HasOption(L"refuse-appservices")) {
            if (ppv) *ppv = nullptr;
            return E_NOINTERFACE;
        }
        return CObjectBase::QueryInterface(riid, ppv);
    }
    RESERVED(3) RESERVED(4)
    STDMETHODIMP ProjectOpen(BSTR bstrPath, BSTR, BSTR, long, IUnknown** ppProject, long* pnReserved) override
    {
        CountAndLog("ProjectOpen");
        if (pnReserved) *pnReserved = 0;
        if (!ppProject) return E_POINTER;
        *ppProject = nullptr;
        auto project = std::make_shared<ProjectData>();
        const HRESULT hrLoad = LoadProject(bstrPath, *project);
        if (FAILED(hrLoad)) return hrLoad;
        const CallOutcome outcome = ApplyDirectives(project.get(), "ProjectOpen", IID_IAppServices);
        if ((FAILED(outcome.hr) && !outcome.bKeepResult) || outcome.bNull) return outcome.hr;
        *ppProject = static_cast<IProject*>(new CProject(std::move(project)));
        return outcome.hr;
    }
};

// The factory does not count toward the server's life: COM holds it for as
// long as the class is registered, so counting it would keep an idle local
// server running forever.
class CFactory : public IClassFactory {
public:
    CFactory() = default;
    virtual ~CFactory() = default;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_nRefs)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG n = InterlockedDecrement(&m_nRefs);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    STDMETHODIMP CreateInstance(IUnknown* pOuter, REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (pOuter) return CLASS_E_NOAGGREGATION;
        // TORVEX_APPSERVICES_OPTIONS=fail-create: the object cannot be made.
        if (HasOption(L"fail-create")) return E_OUTOFMEMORY;
        auto* pObject = new CAppServices;
        const HRESULT hr = pObject->QueryInterface(riid, ppv);
        pObject->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL bLock) override
    {
        if (bLock) ObjectCreated();
        else ObjectDestroyed();
        return S_OK;
    }
private:
    LONG m_nRefs = 1;
};
}

LONG ServerObjectCount() { return g_nObjects; }
void SetServerIdleCallback(void (*pfnIdle)()) { g_pfnIdle = pfnIdle; }

void GetServerCallCounts(LONG* pnMethods, LONG* pnRefCounts)
{
    if (pnMethods) *pnMethods = g_nMethodCalls;
    if (pnRefCounts) *pnRefCounts = g_nRefCountCalls;
}

IClassFactory* CreateAppServicesFactory()
{
    return new CFactory;
}
