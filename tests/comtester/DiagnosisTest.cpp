// The diagnosis of a row and its verdict, each from a real cause: sample
// servers copied into a temporary folder, registered and run for real in the
// test prefix's registry, which every test leaves as it found it.
#include "engine/diagnosis/Diagnosis.h"
#include "engine/components/Catalogue.h"
#include "engine/components/Verification.h"
#include "system/Paths.h"
#include "system/SystemInfo.h"
#include "common/TestSupport.h"
#include "res/resource.h"
#include <gtest/gtest.h>

namespace {

const char CORE_PROGID[] = "ForgeCore.Engine.1";

std::string Sample(const std::string& name)
{
    return TestProgramFolder() + "\\" + name;
}

bool StartsWith(const CString& text, const CString& prefix)
{
    return text.Left(prefix.GetLength()) == prefix;
}

class DiagnosisTest : public ::testing::Test {
protected:
    // A copy of a sample server under a name of our choosing, unregistered
    // again at the end.
    std::string Install(const std::string& sample, const std::string& relative)
    {
        m_installed.push_back(m_dir.CopyIn(Sample(sample), relative));
        return m_installed.back();
    }
    void TearDown() override
    {
        for (const std::string& path : m_installed) RegisterServerFile(path.c_str(), false);
    }
    ComponentDiagnosis Diagnose(const std::string& path, const CString& progID = CString(),
                                const RegistrationResult& action = RegistrationResult()) const
    {
        const int slash = CString(path.c_str()).ReverseFind('\\');
        return DiagnoseComponent(CString(path.c_str()).Mid(slash + 1), progID, path.c_str(), action, m_resolver);
    }
    CString Verdict(const std::string& path, const CString& progID = CString(),
                    const RegistrationResult& action = RegistrationResult()) const
    {
        return ComponentVerdict(Diagnose(path, progID, action));
    }
    RegistrationResult Register(const std::string& path, bool bRegister = true) const
    {
        RegistrationResult result;
        RegisterServerFile(path.c_str(), bRegister, &result);
        EXPECT_TRUE(result.bDone);
        EXPECT_EQ(bRegister, result.bRegister);
        return result;
    }

    CTempDir m_dir;
    CImportResolver m_resolver;
    std::vector<std::string> m_installed;
};

} // namespace

TEST_F(DiagnosisTest, TheRunnerReportsTheStageReachedAndWhatStoppedIt)
{
    const std::string good = Install("ForgeSampleServer.dll", "Unlisted.dll");
    RegistrationResult result = Register(good);
    EXPECT_EQ(STAGE_ENTRY_RETURNED, result.nStage);
    EXPECT_EQ(S_OK, result.hr);
    EXPECT_EQ(0u, result.dwFaultCode);

    result = Register(Install("SampleNoUnreg.dll", "NoUnreg.dll"), false);
    EXPECT_EQ(STAGE_MAPPED, result.nStage) << "the entry point is missing: nothing ran";

    result = Register(Install("SampleMissingDep.dll", "MissingDep.dll"));
    EXPECT_EQ(STAGE_ENTRY_FOUND, result.nStage);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), result.hr);

    const std::string faulting = Install("SampleFaultEntry.dll", "FaultEntry.dll");
    result = Register(faulting);
    EXPECT_EQ(STAGE_LOADED, result.nStage);
    EXPECT_EQ(static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION), result.dwFaultCode);
    EXPECT_EQ(0, result.strFaultModule.CompareNoCase(faulting.c_str())) << result.strFaultModule.GetString();

    result = Register(Install("LocalSrv.exe", "Agent\\LocalSrv.exe"));
    EXPECT_EQ(STAGE_ENDED, result.nStage);
    EXPECT_EQ(0u, result.dwExitCode);

    result = Register("");
    EXPECT_EQ(STAGE_NONE, result.nStage);
    EXPECT_TRUE(FAILED(result.hr));
}

TEST_F(DiagnosisTest, EachCauseGivesItsVerdict)
{
    EXPECT_EQ(LoadResourceString(IDS_VERDICT_ABSENT), Verdict(m_dir / "KfGone.dll"));
    EXPECT_EQ(LoadResourceString(IDS_VERDICT_ABSENT), Verdict(m_dir.MakeDir("KfFolder.dll")));
    EXPECT_EQ(LoadResourceString(IDS_VERDICT_NOT_MODULE), Verdict(m_dir.MakeFile("KfText.dll", "not a module")));

    // Built for the other processor width: the sibling beside this program
    // runs it, and without the sibling the verdict names the file to add.
    ComponentDiagnosis other = Diagnose(Install("SampleOtherBitness.dll", "KfOther.dll"));
    EXPECT_EQ(LoadResourceString(IDS_VERDICT_NO_PROGID), ComponentVerdict(other));
    other.bSiblingPresent = false;
    EXPECT_EQ(CString(sizeof(void*) == 8 ? "32-bit server: put ForgeSupport.exe beside ForgeSupport64.exe to register it"
                                         : "64-bit server: put ForgeSupport64.exe beside ForgeSupport.exe to register it"),
              ComponentVerdict(other));

    // A dependency that is nowhere; found once it lies beside the server.
    const std::string missingDep = Install("SampleMissingDep.dll", "Dep\\KfMissing.dll");
    EXPECT_EQ(CString("Missing dependency: ForgeAbsentHelper.dll"), Verdict(missingDep, "", Register(missingDep)));
    m_dir.CopyIn(TestProgramFolder() + "\\..\\samples\\servers\\absent\\ForgeAbsentHelper.dll", "Dep\\ForgeAbsentHelper.dll");
    const ComponentDiagnosis withHelper = Diagnose(missingDep);
    EXPECT_EQ(LoadResourceString(IDS_VERDICT_NO_PROGID), ComponentVerdict(withHelper));
    bool bFoundBeside = false;
    for (const ImportStatus& import : withHelper.imports)
        if (import.strName == "ForgeAbsentHelper.dll") bFoundBeside = import.strFoundAt == CString((m_dir / "Dep\\ForgeAbsentHelper.dll").c_str());
    EXPECT_TRUE(bFoundBeside);

    // A DLL without the entry points, and one without DllUnregisterServer.
    EXPECT_EQ(LoadResourceString(IDS_VERDICT_NOT_SELF_REG), Verdict(Sample("Versioned_6_0_2_26.dll")));
    const std::string noUnreg = Install("SampleNoUnreg.dll", "KfNoUnreg.dll");
    EXPECT_EQ(LoadResourceString(IDS_VERDICT_NO_UNREGISTER), Verdict(noUnreg, "", Register(noUnreg, false)));

    // Refused by the registry: an administrator's job unless already one.
    const std::string denied = Install("SampleDenied.dll", "KfDenied.dll");
    ComponentDiagnosis refused = Diagnose(denied, "Kelvara.SampleDenied.1", Register(denied));
    refused.bElevated = false;
    EXPECT_EQ(LoadResourceString(IDS_VERDICT_NEEDS_ADMIN), ComponentVerdict(refused));
    refused.bElevated = true;
    EXPECT_TRUE(StartsWith(ComponentVerdict(refused), "Its self-registration failed: 0x80070005 "));

    // Crashes in DllMain and in the entry point.
    const std::string faultMain = Install("SampleFaultMain.dll", "KfFaultMain.dll");
    EXPECT_EQ(LoadResourceString(IDS_VERDICT_CRASHED_STARTUP), Verdict(faultMain, "", Register(faultMain)));
    const std::string faultEntry = Install("SampleFaultEntry.dll", "KfFaultEntry.dll");
    EXPECT_EQ(CString("Crashed in DllRegisterServer"), Verdict(faultEntry, "", Register(faultEntry)));
}

TEST_F(DiagnosisTest, RegistrationIsReadInBothViewsAndComparedWithTheFile)
{
    const std::string mine = Install("ForgeSampleServer.dll", "Mine\\KfCore.dll");
    const std::string other = Install("ForgeSampleServer.dll", "Other Copy\\KfCore.dll");
    EXPECT_EQ(LoadResourceString(IDS_VERDICT_NOT_REGISTERED), Verdict(mine, CORE_PROGID));

    Register(other);
    EXPECT_EQ(CString("Registered to another copy: ") + other.c_str(), Verdict(mine, CORE_PROGID));
    Register(mine);
    const ComponentDiagnosis sound = Diagnose(mine, CORE_PROGID);
    EXPECT_EQ(LoadResourceString(IDS_VERDICT_SOUND), ComponentVerdict(sound));
    EXPECT_EQ(CString("InprocServer32"), sound.registration.rowView.strServerKey);
    EXPECT_FALSE(sound.registration.strMachineClsid.IsEmpty());
    // The same file under its short name, and through an environment string.
    char szShort[MAX_PATH] = "";
    ASSERT_GT(GetShortPathNameA(mine.c_str(), szShort, MAX_PATH), 0u);
    EXPECT_TRUE(IsSameFile(szShort, mine.c_str()));
    EXPECT_FALSE(IsSameFile(other.c_str(), mine.c_str()));

    // A per-user entry that names another class, served by the other copy.
    const std::string userClsid = "{6B454C56-4152-4100-8000-00000000C0DE}";
    CScopedRegValue userProgID(HKEY_CURRENT_USER, std::string("Software\\Classes\\") + CORE_PROGID + "\\Clsid", "", userClsid);
    CScopedRegValue userServer(HKEY_CURRENT_USER, "Software\\Classes\\CLSID\\" + userClsid + "\\InprocServer32", "", other);
    const ComponentDiagnosis overridden = Diagnose(mine, CORE_PROGID);
    EXPECT_TRUE(overridden.registration.bUserOverrides);
    EXPECT_EQ(CString(userClsid.c_str()), overridden.registration.strClsid);
    EXPECT_TRUE(StartsWith(ComponentVerdict(overridden), "A per-user registration overrides it: "));
    EXPECT_NE(-1, FormatComponentDiagnosis(overridden).Str().find("HKEY_CURRENT_USER overrides"));
}

TEST_F(DiagnosisTest, AClassRegisteredOnlyInTheOtherViewIsNamedSo)
{
    if (!IsSixtyFourBitSystem()) GTEST_SKIP() << "a 32-bit system has one registry view";
    const std::string path = Install("ForgeSampleServer.dll", "KfView.dll");
    const std::string clsid = "{6B454C56-4152-4100-8000-00000000BEEF}";
    const std::string progID = "Kelvara.ViewSample.1";
    const REGSAM other = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    CScopedRegValue prog(HKEY_CLASSES_ROOT, progID + "\\Clsid", "", clsid);
    HKEY hKey = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, ("Software\\Classes\\CLSID\\" + clsid + "\\InprocServer32").c_str(),
                                             0, nullptr, 0, KEY_WRITE | other, nullptr, &hKey, nullptr));
    RegSetValueExA(hKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()), static_cast<DWORD>(path.size() + 1));
    RegCloseKey(hKey);

    const ComponentDiagnosis d = Diagnose(path, progID.c_str());
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, ("Software\\Classes\\CLSID\\" + clsid + "\\InprocServer32").c_str(), other, 0);
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, ("Software\\Classes\\CLSID\\" + clsid).c_str(), other, 0);
    EXPECT_EQ(CString(path.c_str()), d.registration.otherView.strServerPath);
    EXPECT_TRUE(d.registration.rowView.strServerKey.IsEmpty());
    EXPECT_TRUE(StartsWith(ComponentVerdict(d), "Registered in the "));
}

TEST_F(DiagnosisTest, ImportsResolveLikeTheLoaderAndACatalogueRowGetsItsVerdict)
{
    const std::vector<ImportStatus> imports = m_resolver.Resolve(
        Sample("ForgeSampleServer.dll").c_str(), {"api-ms-win-core-synch-l1-2-0.dll", "KERNEL32.dll", "KfNoSuch.dll"});
    ASSERT_EQ(3u, imports.size());
    EXPECT_TRUE(imports[0].bApiSet);
    EXPECT_FALSE(imports[1].IsMissing());
    EXPECT_TRUE(imports[2].IsMissing());

    // The same answers a report gets for a catalogue row, from the two folders.
    const std::string system = m_dir.MakeDir("Forge\\System");
    const std::string common = m_dir.MakeDir("Common Files");
    Install("SampleMissingDep.dll", "Forge\\System\\Build\\KfBuild.dll");
    EXPECT_EQ(CString("Missing dependency: ForgeAbsentHelper.dll"),
              CatalogueRowVerdict("KfBuild.dll", "ForgeBuild.Builder.1", KIND_TOOL_SYSTEM, system.c_str(), common.c_str()));
    EXPECT_EQ(LoadResourceString(IDS_VERDICT_ABSENT),
              CatalogueRowVerdict("KfCore.dll", CORE_PROGID, KIND_TOOL_SYSTEM, system.c_str(), common.c_str()));
    // All rows at once agree with each row on its own.
    const std::vector<CString> verdicts = CatalogueVerdicts(system.c_str(), common.c_str());
    ASSERT_EQ(static_cast<size_t>(g_nCatalogueEntries), verdicts.size());
    for (int i = 0; i < g_nCatalogueEntries; ++i)
        EXPECT_EQ(CatalogueRowVerdict(g_catalogue[i].pszFileName, g_catalogue[i].pszProgID, g_catalogue[i].nKind,
                                      system.c_str(), common.c_str()), verdicts[static_cast<size_t>(i)])
            << g_catalogue[i].pszFileName;
    EXPECT_EQ(CString((m_dir / "Forge\\System\\mergemod.dll").c_str()),
              ResolveCatalogueLocation("mergemod.dll", KIND_COMMON_FILES, system.c_str(), common.c_str()));
    const std::string text = FormatComponentDiagnosis(Diagnose(Sample("ForgeSampleServer.dll"))).Str();
    EXPECT_NE(std::string::npos, text.find("DllRegisterServer: exported"));
    EXPECT_NE(std::string::npos, text.find("File version: 8.0.1.17"));
}

TEST_F(DiagnosisTest, AClsidThatIsNoStringRegistersNothingInTheColumnTheDetailsAndTheReport)
{
    const std::string mine = Install("ForgeSampleServer.dll", "Mine\\KfCore.dll");
    Register(mine);
    ComponentItem item(CORE_PROGID, "KfCore.dll", KIND_TOOL_SYSTEM, "-");
    item.strLocation = mine.c_str();
    ASSERT_TRUE(IsRegistered(item));
    ASSERT_EQ(LoadResourceString(IDS_VERDICT_SOUND), RecordVerdict(item, m_resolver));

    // The same class identifier, stored as an expandable string.
    const ComponentDiagnosis sound = Diagnose(mine, CORE_PROGID);
    CScopedRegValue expandable(HKEY_LOCAL_MACHINE, std::string("Software\\Classes\\") + CORE_PROGID + "\\Clsid", "",
                               sound.registration.strClsid.Str(), REG_EXPAND_SZ);
    EXPECT_FALSE(IsRegistered(item));
    const CString verdict = RecordVerdict(item, m_resolver);
    EXPECT_NE(-1, verdict.Str().find("REG_EXPAND_SZ")) << verdict.Str();
    EXPECT_EQ(verdict, Verdict(mine, CORE_PROGID));
    EXPECT_NE(-1, FormatComponentDiagnosis(Diagnose(mine, CORE_PROGID)).Str().find("Clsid value of type REG_EXPAND_SZ"));
}
