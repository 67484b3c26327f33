// Either program registers any server: a server of the other bitness goes to
// the sibling program beside this one, and comes back as if run here.
#include "PageDriver.h"
#include "common/TestSupport.h"
#include "engine/components/Catalogue.h"
#include "engine/components/Sibling.h"
#include "engine/components/Verification.h"
#include "engine/diagnosis/Diagnosis.h"
#include "res/resource.h"
#include <gtest/gtest.h>

using namespace page_driver;

namespace {
class SiblingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (GetFileAttributesA(SiblingProgramPath()) == INVALID_FILE_ATTRIBUTES)
            GTEST_SKIP() << "no sibling beside the test program: build both (make both)";
    }
    CTempDir m_dir;
};

std::unique_ptr<ComponentItem> Row(const char* pszFileName, const std::string& path)
{
    const CatalogueEntry* pEntry = FindCatalogueEntry(pszFileName);
    auto pItem = std::make_unique<ComponentItem>(pEntry->pszProgID, pEntry->pszFileName, pEntry->nKind, "-");
    pItem->strLocation = path.c_str();
    return pItem;
}
}

TEST_F(SiblingTest, RegistersAndUnregistersAServerOfTheOtherBitnessAsIfRunHere)
{
    const std::string path = m_dir.CopyIn(TestProgramFolder() + "\\SampleOtherBitness.dll", "System\\KfBuild.dll");
    const auto pItem = Row("KfBuild.dll", path);
    ComponentItem& item = *pItem;
    ASSERT_FALSE(IsRegistered(item));

    RegistrationResult result;
    EXPECT_TRUE(RegisterServerFile(path.c_str(), true, &result));
    EXPECT_EQ(ROUTE_SIBLING, result.nRoute);
    EXPECT_EQ(SiblingProgramPath(), result.strProgram);
    EXPECT_EQ(STAGE_ENTRY_RETURNED, result.nStage);
    EXPECT_EQ(S_OK, result.hr);
    EXPECT_TRUE(result.bRegister);
    EXPECT_GT(result.dMilliseconds, 0.0);
    // Registered in the server's own view, which is the one its row is read in.
    EXPECT_TRUE(IsRegistered(item));
    item.lastAction = result;
    const ComponentDiagnosis d = DiagnoseComponent("KfBuild.dll", "ForgeBuild.Builder.1", path.c_str(), result, CImportResolver());
    EXPECT_EQ(LoadResourceString(IDS_VERDICT_SOUND), ComponentVerdict(d));
    const std::string text = FormatComponentDiagnosis(d).Str();
    EXPECT_NE(std::string::npos, text.find("Run by: " + SiblingProgramPath().Str())) << text;
    EXPECT_NE(std::string::npos, text.find(std::string("Registry view read: ") + (sizeof(void*) == 8 ? "32-bit" : "64-bit") +
                                           ", the server's own")) << text;

    EXPECT_TRUE(RegisterServerFile(path.c_str(), false, &result));
    EXPECT_EQ(ROUTE_SIBLING, result.nRoute);
    EXPECT_FALSE(result.bRegister);
    EXPECT_FALSE(IsRegistered(item));
}

TEST_F(SiblingTest, AFaultInTheSiblingIsReportedAndBothProgramsLive)
{
    const std::string path = m_dir.CopyIn(TestProgramFolder() + "\\SampleOtherFault.dll", "KfFault.dll");
    for (int nRun = 0; nRun < 2; ++nRun) {
        RegistrationResult result;
        EXPECT_FALSE(RegisterServerFile(path.c_str(), true, &result));
        EXPECT_EQ(ROUTE_SIBLING, result.nRoute);
        EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), result.dwFaultCode);
        EXPECT_EQ(CString(path.c_str()), result.strFaultModule);
        EXPECT_EQ(CString("Crashed in DllRegisterServer"),
                  ComponentVerdict(DiagnoseComponent("KfFault.dll", "", path.c_str(), result, CImportResolver())));
    }
}

TEST_F(SiblingTest, WithoutTheSiblingTheRowSaysWhichFileToPutBesideThisOne)
{
    const std::string path = m_dir.CopyIn(TestProgramFolder() + "\\SampleOtherBitness.dll", "KfBuild.dll");
    RunOptions options;
    options.strSiblingFolder = m_dir.MakeDir("Alone").c_str();
    RegistrationResult result;
    EXPECT_FALSE(RegisterServerFile(path.c_str(), true, &result, options));
    EXPECT_EQ(ROUTE_NO_SIBLING, result.nRoute);
    EXPECT_EQ(STAGE_NONE, result.nStage);
    EXPECT_EQ(CString(sizeof(void*) == 8 ? "32-bit server: put ForgeSupport.exe beside ForgeSupport64.exe to register it"
                                         : "64-bit server: put ForgeSupport64.exe beside ForgeSupport.exe to register it"),
              ComponentVerdict(DiagnoseComponent("KfBuild.dll", "ForgeBuild.Builder.1", path.c_str(), result, CImportResolver())));
    EXPECT_FALSE(IsProgIDRegistered("ForgeBuild.Builder.1"));
}

TEST(SiblingLine, ReadsBackWhatItWritesAndRefusesAnythingElse)
{
    RegistrationResult written;
    written.bRegister = true;
    written.nStage = STAGE_ENTRY_RETURNED;
    written.hr = static_cast<HRESULT>(0x80070005);
    written.dwFaultCode = 0xC00000FD;
    written.strFaultModule = "C:\\Servers\\\"Odd\" \\ name\x01.dll";
    const std::string line = FormatRegistrationLine(written, false);
    RegistrationResult read;
    bool bResult = true;
    ASSERT_TRUE(ParseRegistrationLine(line, read, bResult)) << line;
    EXPECT_FALSE(bResult);
    EXPECT_TRUE(read.bRegister);
    EXPECT_EQ(STAGE_ENTRY_RETURNED, read.nStage);
    EXPECT_EQ(written.hr, read.hr);
    EXPECT_EQ(written.dwFaultCode, read.dwFaultCode);
    EXPECT_EQ(written.strFaultModule, read.strFaultModule);
    for (const char* bad : {"", "not json", "{\"stage\": 9, \"hr\": \"0x0\", \"result\": true}", "{\"stage\": 1", "{\"hr\": \"0\"}"})
        EXPECT_FALSE(ParseRegistrationLine(bad, read, bResult)) << bad;
}
