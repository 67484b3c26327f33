// ComCheck and the exception it throws: texts from error objects and from
// the system, and what a catcher may catch it as.
#include "AutomationServer.h"
#include "engine/project/ComException.h"
#include "engine/project/ComResult.h"
#include <gtest/gtest.h>
#include <oleauto.h>

namespace {
void SetThreadError(const wchar_t* pszSource, const wchar_t* pszDescription, REFIID riid)
{
    ICreateErrorInfo* pCreate = nullptr;
    ASSERT_EQ(S_OK, CreateErrorInfo(&pCreate));
    pCreate->SetGUID(riid);
    if (pszSource) pCreate->SetSource(const_cast<LPOLESTR>(pszSource));
    if (pszDescription) pCreate->SetDescription(const_cast<LPOLESTR>(pszDescription));
    IErrorInfo* pInfo = nullptr;
    pCreate->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&pInfo));
    SetErrorInfo(0, pInfo);
    pInfo->Release();
    pCreate->Release();
}

// Runs ComCheck and gives what it threw (the caller deletes it), or null.
CComException* Check(HRESULT hr)
{
    try {
        ComCheck(hr);
    } catch (CComException* e) {
        return e;
    }
    return nullptr;
}

const IID IID_Sample = {0x1a2b3c4d, 0x1111, 0x2222, {0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa}};
}

TEST(ComCheck, SuccessCodesPassWithoutAnException)
{
    EXPECT_EQ(nullptr, Check(S_OK));
    EXPECT_EQ(nullptr, Check(S_FALSE));
    EXPECT_EQ(nullptr, Check(0x00040200));
    CComResult result;
    EXPECT_NO_THROW(result = S_FALSE);
    EXPECT_EQ(S_FALSE, result.m_hr);
}

TEST(ComCheck, WithoutErrorObjectTheSystemTextIsTheDescription)
{
    SetErrorInfo(0, nullptr);
    CComException* e = Check(E_FAIL);
    ASSERT_NE(nullptr, e);
    const CComErrorInfo& info = e->GetErrorInfo();
    const std::string expected = SystemText(E_FAIL);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(expected, std::string(info.what()));
    EXPECT_EQ("\r\n", expected.substr(expected.size() - 2));
    EXPECT_EQ(E_FAIL, info.m_hr);
    EXPECT_EQ(std::string(), info.m_strSource.Str());
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, info.m_iid));
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, info.m_clsid));
    e->Delete();
}

TEST(ComCheck, ACodeWithoutSystemTextIsAnUnknownError)
{
    SetErrorInfo(0, nullptr);
    const HRESULT hr = static_cast<HRESULT>(0xA0F1F2F3);
    ASSERT_EQ("", SystemText(hr));
    CComException* e = Check(hr);
    ASSERT_NE(nullptr, e);
    EXPECT_STREQ("Unknown error", e->GetErrorInfo().what());
    e->Delete();
}

TEST(ComCheck, AnErrorObjectGivesDescriptionSourceAndIdentifiersAndIsTaken)
{
    CInprocServerRegistration server;
    ASSERT_TRUE(server.Registered());
    CLSID clsidServer = GUID_NULL;
    ASSERT_EQ(S_OK, CLSIDFromProgID(L"Torvex.AppServices.1", &clsidServer));

    SetThreadError(L"Torvex.AppServices.1", L"Project is locked", IID_Sample);
    CComException* e = Check(E_ACCESSDENIED);
    ASSERT_NE(nullptr, e);
    const CComErrorInfo& info = e->GetErrorInfo();
    EXPECT_STREQ("Project is locked", info.what());
    EXPECT_EQ("Torvex.AppServices.1", info.m_strSource.Str());
    EXPECT_TRUE(IsEqualGUID(IID_Sample, info.m_iid));
    EXPECT_TRUE(IsEqualGUID(clsidServer, info.m_clsid));
    e->Delete();

    IErrorInfo* pLeft = nullptr;
    EXPECT_EQ(S_FALSE, GetErrorInfo(0, &pLeft));   // taking it cleared it
    EXPECT_EQ(nullptr, pLeft);
}

TEST(ComCheck, UnregisteredSourceKeepsItsTextWithoutClassAndEmptyDescriptionStaysEmpty)
{
    SetThreadError(L"No.Such.ProgID.7", nullptr, IID_Sample);
    CComException* e = Check(E_FAIL);
    ASSERT_NE(nullptr, e);
    EXPECT_STREQ("", e->GetErrorInfo().what());
    EXPECT_EQ("No.Such.ProgID.7", e->GetErrorInfo().m_strSource.Str());
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, e->GetErrorInfo().m_clsid));
    char szBuffer[16] = "untouched";
    EXPECT_TRUE(e->GetErrorMessage(szBuffer, sizeof szBuffer));
    EXPECT_STREQ("", szBuffer);
    e->Delete();
}

TEST(ComCheck, AnErrorObjectLeftByAnEarlierCallIsTakenForALaterFailure)
{
    SetThreadError(L"Earlier.Call", L"left behind", IID_Sample);
    CComException* e = Check(E_UNEXPECTED);
    ASSERT_NE(nullptr, e);
    EXPECT_STREQ("left behind", e->GetErrorInfo().what());
    EXPECT_EQ(E_UNEXPECTED, e->GetErrorInfo().m_hr);
    e->Delete();
}

TEST(ComException, GetErrorMessageCutsToTheBufferAndTerminates)
{
    SetThreadError(nullptr, L"0123456789ABCDEF", IID_Sample);
    CComException* e = Check(E_FAIL);
    ASSERT_NE(nullptr, e);
    char szBuffer[12];
    memset(szBuffer, 'x', sizeof szBuffer);
    UINT nHelp = 77;
    EXPECT_TRUE(e->GetErrorMessage(szBuffer, 8, &nHelp));
    EXPECT_STREQ("0123456", szBuffer);
    EXPECT_EQ('x', szBuffer[8]);
    EXPECT_EQ(77u, nHelp);
    EXPECT_TRUE(e->GetErrorMessage(szBuffer, sizeof szBuffer));
    EXPECT_STREQ("0123456789A", szBuffer);
    e->Delete();
}

TEST(ComException, CanBeCaughtAsItsBasesAndCopiesOfTheRecordAreIndependent)
{
    SetThreadError(L"Src", L"text", IID_Sample);
    bool bCaught = false;
    try {
        CComResult result;
        result = E_FAIL;
    } catch (CObject* e) {
        auto* pException = dynamic_cast<CComException*>(e);
        ASSERT_NE(nullptr, pException);
        CComErrorInfo copy = pException->GetErrorInfo();
        static_cast<CException*>(e)->Delete();
        EXPECT_STREQ("text", copy.what());
        EXPECT_EQ("Src", copy.m_strSource.Str());
        bCaught = true;
    }
    EXPECT_TRUE(bCaught);
    try {
        ComCheck(E_FAIL);
    } catch (_CComException<int>* e) {
        e->Delete();
        bCaught = false;
    }
    EXPECT_FALSE(bCaught);
}
