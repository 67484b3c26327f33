#include "engine/project/ProjectRun.h"
#include "framework/CBstr.h"
#include "framework/CComPtr.h"
#include "framework/CException.h"
#include "framework/COleMessageFilter.h"
#include "res/resource.h"
#include <Automation.h>
#include <rpc.h>

namespace {
const char APP_SERVICES_PROGID[] = "Torvex.AppServices.1";
// The server is created for IUnknown, which every server answers, and then
// asked for its application-services interface.
const char CREATION_IID_TEXT[] = "00000000-0000-0000-C000-000000000046";
}

bool CreateAppServices(CProjectRunSink& sink, IAppServices** ppAppServices)
{
    *ppAppServices = nullptr;
    const CBstr bstrProgID(APP_SERVICES_PROGID);
    CLSID clsid = GUID_NULL;
    if (sink.ReportIfFailed(CLSIDFromProgID(bstrProgID.Get(), &clsid),
                            "Failure at:CProjectTester::OnTestProject Function:CLSIDFromProgID"))
        return false;

    char szIID[260] = {};
    lstrcpynA(szIID, CREATION_IID_TEXT, sizeof szIID);
    IID iidCreate = GUID_NULL;
    UuidFromStringA(reinterpret_cast<RPC_CSTR>(szIID), &iidCreate);

    CComPtr<IUnknown> spCreated;
    if (sink.ReportIfFailed(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                                             iidCreate, reinterpret_cast<void**>(&spCreated)),
                            "Failure at:CProjectTester::OnTestProject Function:CoCreateInstance"))
        return false;
    // A server may create its object and still refuse the interface; the
    // test cannot go on without it.
    if (!spCreated || FAILED(spCreated->QueryInterface(IID_IAppServices, reinterpret_cast<void**>(ppAppServices))) || !*ppAppServices) {
        *ppAppServices = nullptr;
        sink.AddError("Failure at:CProjectTester::OnTestProject Function:QueryInterface For IAppServices");
        return false;
    }
    return true;
}

void RunProjectTest(CProjectRunSink& sink, const CString& strPath)
{
    CComPtr<IAppServices> spAppServices;
    if (!CreateAppServices(sink, &spAppServices)) return;

    CBstr bstrPath(strPath);
    CComPtr<IUnknown> spProject;
    long nIgnored = 0;
    const HRESULT hr = spAppServices->ProjectOpen(bstrPath.Get(), nullptr, nullptr, 0, &spProject, &nIgnored);
    bstrPath.Free();
    sink.ReportIfFailed(hr, "Failure at:CProjectTester::OnTestProject Function:spAppServices->ProjectOpen");
    // Also after a failure: the tree is emptied and shows whatever came back.
    CException* pFailure = nullptr;
    try {
        sink.PopulateTree(spProject.Get());
    } catch (CException* e) {
        // A cancelled enumeration is the stop's doing, not a failure to show.
        if (!sink.WasStopped() && !sink.IsStopRequested()) {
            pFailure = e;
        } else {
            e->Delete();
            sink.NoteStopped();
        }
    }
    {
        // The last releases let the server end, stopped or not.
        const COleMessageFilter::CCleanup cleanup;
        spProject.Release();
        spAppServices.Release();
    }
    if (pFailure) throw pFailure;
    if (sink.WasStopped()) sink.AddError(LoadResourceString(IDS_PROJECT_STOPPED));
}
