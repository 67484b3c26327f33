// The console twin and the fleet modes: ForgeSupport.com run as management
// tools run it, /check that changes nothing and fits one line, /repair that
// mends what registering mends and leaves the rest.
#include "demo/DemoFixture.h"
#include "engine/components/FileSearch.h"
#include "engine/components/SelfRegistration.h"
#include "report/Check.h"
#include <algorithm>

namespace {
std::string Com()
{
    return "\"" + TestProgramFolder() + "\\ForgeSupport.com\" ";
}

// The program that sees the demo installation: it is prepared in this
// build's registry view, which the 32-bit ForgeSupport.com reads only in the
// 32-bit build. Both programs take the same switches.
std::string Tool()
{
    return sizeof(void*) == 8 ? "\"" + OwnProgramPath() + "\" " : Com();
}

// The machine's and the user's classes, and a listing of a folder tree, as
// text to compare before and after.
std::string Snapshot(const std::string& folder)
{
    std::string text;
    const CTempDir temp;
    for (const char* key : {"HKLM\\Software\\Classes", "HKCU\\Software\\Classes"}) {
        const std::string file = temp / "export.reg";
        RunProcess(std::string("reg.exe export ") + key + " \"" + file + "\" /y");
        text += ReadFileText(file);
    }
    text += RunProcess("cmd.exe /c dir /s /b /a \"" + folder + "\"").out;
    return text;
}

size_t Count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

bool IsRegisteredIn64BitView(const std::string& progID)
{
    char szClsid[64] = "";
    DWORD cb = sizeof szClsid;
    if (RegGetValueA(HKEY_CLASSES_ROOT, (progID + "\\Clsid").c_str(), nullptr, RRF_RT_REG_SZ, nullptr, szClsid, &cb) != ERROR_SUCCESS)
        return false;
    HKEY hKey = nullptr;
    const bool bFound = RegOpenKeyExA(HKEY_CLASSES_ROOT, (std::string("CLSID\\") + szClsid + "\\InprocServer32").c_str(), 0,
                                      KEY_READ | KEY_WOW64_64KEY, &hKey) == ERROR_SUCCESS;
    if (hKey) RegCloseKey(hKey);
    return bFound;
}
}

using FleetTest = DemoFixture;

TEST_F(FleetTest, TheConsoleTwinIsWhatCmdRunsWithItsOutputAndExitCode)
{
    const ProcessOutput run = RunProcess("cmd.exe /c ForgeSupport /report - /format json", TestProgramFolder());
    EXPECT_EQ(0u, run.out.find("{\n  \"schema\": 1,")) << run.out.substr(0, 200) << run.err;
    EXPECT_NE(std::string::npos, run.out.find("\"exitCode\": " + std::to_string(run.exitCode) + ","));
    EXPECT_EQ(1u, run.exitCode) << "the demo installation has problems";
    EXPECT_EQ("", run.err);
    // The same into a pipe, to the next program of the command line.
    const ProcessOutput piped = RunProcess("cmd.exe /c \"ForgeSupport /report - /format json | find \"exitCode\"\"", TestProgramFolder());
    EXPECT_EQ("  \"exitCode\": 1,", piped.out.substr(0, piped.out.find_first_of("\r\n"))) << piped.out;
    // Bad switches: the usage on standard error, 64.
    const ProcessOutput bad = RunProcess(Com() + "/check /project x.kvp");
    EXPECT_EQ(64u, bad.exitCode);
    EXPECT_NE(std::string::npos, bad.err.find("Usage: ForgeSupport.exe"));
    EXPECT_EQ("", bad.out);
}

TEST_F(FleetTest, CheckChangesNothingAndItsOneLineFitsEvenWithEveryRowBroken)
{
    const std::string before = Snapshot(m_root.Path());
    const ProcessOutput run = RunProcess(Tool() + "/check");
    EXPECT_EQ(before, Snapshot(m_root.Path())) << "the check changed the registry or the files";
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_EQ(1u, Count(run.out, "\n")) << run.out;
    EXPECT_EQ(0u, run.out.find("{\"status\":\"problems\",\"problems\":")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("{\"file\":\"KfSql.dll\",\"verdict\":\"Missing dependency: ")) << run.out;

    // Every row broken: a System folder and a Common Files folder that do not exist.
    CScopedRegValue noCommon(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir",
                             m_root / "Nowhere");
    const ProcessOutput broken = RunProcess(Tool() + "/check /folder \"" + (m_root / "Nowhere") + "\"");
    EXPECT_EQ(1u, broken.exitCode);
    const std::string line = broken.out.substr(0, broken.out.find_last_not_of("\r\n") + 1);
    EXPECT_LE(line.size(), 2048u);
    const size_t nProblems = std::stoul(line.substr(line.find("\"problems\":") + 11));
    const size_t nOmitted = std::stoul(line.substr(line.find("\"omitted\":") + 10));
    EXPECT_GE(nProblems, 90u);
    EXPECT_EQ(nProblems, Count(line, "{\"file\":") + nOmitted);
    EXPECT_GT(nOmitted, 0u);
}

TEST_F(FleetTest, RepairMendsWhatRegisteringMendsAndASecondRunDoesNothing)
{
    // The installation's removal unregisters only what it registered: what
    // the repair registers is unregistered here, however the test ends.
    struct CUnregisterMended {
        const CTempDir& root;
        ~CUnregisterMended()
        {
            for (const char* mended : {"KfOdbc.dll", "KfDiff.ocx", "KfCalendar.ocx", "KvCrypt.dll", "KvEdit.ocx", "KfUpdate.dll"}) {
                const CString strPath = FindFileInTree(root.Path().c_str(), mended);
                if (!strPath.IsEmpty()) RegisterServerFile(strPath, false);
            }
        }
    } unregister{m_root};
    const ProcessOutput first = RunProcess(Tool() + "/repair /report \"" + (m_root / "repair.txt") + "\"");
    EXPECT_EQ(1u, first.exitCode) << "missing files remain: " << first.out;
    const std::string repaired = first.out.substr(first.out.find("\"repaired\":"));
    for (const char* mended : {"KfOdbc.dll", "KfDiff.ocx", "KfCalendar.ocx", "KvCrypt.dll", "KvEdit.ocx"})
        EXPECT_NE(std::string::npos, repaired.find(std::string("\"") + mended + "\"")) << mended << ": " << first.out;
    EXPECT_EQ(std::string::npos, repaired.find("KfSql.dll")) << "a missing dependency is left alone";
    EXPECT_NE(std::string::npos, first.out.find("{\"file\":\"KfSql.dll\",\"verdict\":\"Missing dependency: ")) << first.out;
    // The full report shows each row before the repair and after it.
    const std::string report = ReadFileText(m_root / "repair.txt");
    const size_t nBefore = report.find("Components before the repair:\r\nKfAutomate.dll,"), nAfter = report.find("Components:\r\n");
    ASSERT_NE(std::string::npos, nBefore) << report.substr(0, 600);
    ASSERT_NE(std::string::npos, nAfter);
    EXPECT_NE(std::string::npos, report.find("\r\nKfOdbc.dll,ForgeTools.OdbcConfig.1,No,", nBefore)) << report.substr(nBefore, 2500);
    EXPECT_NE(std::string::npos, report.find("\r\nKfOdbc.dll,ForgeTools.OdbcConfig.1,Yes,", nAfter));

    const std::string before = Snapshot(m_root.Path());
    const ProcessOutput second = RunProcess(Tool() + "/repair");
    EXPECT_EQ(1u, second.exitCode);
    EXPECT_NE(std::string::npos, second.out.find("\"repaired\":[],\"undo\":{\"file\":null,\"why\":\"nothing ran\"}}")) << second.out;
    EXPECT_EQ(before, Snapshot(m_root.Path())) << "the second run changed something";

}

TEST(Fleet, RepairStopsAHungServerAndHandsAServerOfTheOtherBitnessToItsSibling)
{
    CTempDir dir;
    const std::string system = dir.MakeDir("System");
    dir.CopyIn(TestProgramFolder() + "\\HangSrv.exe", "System\\KfBuildSrv.exe");
    // A 64-bit server: ForgeSupport.com, a 32-bit program, hands it on.
    const std::string wide = dir.CopyIn(TestProgramFolder() + (sizeof(void*) == 8 ? "\\ForgeSampleServer.dll" : "\\SampleOtherBitness.dll"),
                                        "System\\KfCore.dll");
    CScopedRegValue common(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir", dir / "Common");
    const ProcessOutput run = RunProcess(Com() + "/repair /timeout 2 /folder \"" + system + "\"");
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_NE(std::string::npos, run.out.find("\"repaired\":[\"KfCore.dll\"]")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("{\"file\":\"KfBuildSrv.exe\",\"verdict\":\"")) << run.out;
    EXPECT_TRUE(IsRegisteredIn64BitView("ForgeCore.Engine.1"));
    EXPECT_TRUE(WaitFor([] { return CountProcesses("KfBuildSrv.exe") == 0; }, 10)) << "the hung server was left running";
    RegisterServerFile(wide.c_str(), false);
}

TEST(FleetLine, SaysSoundWithoutProblemsAndKeepsWithinTheLimitWhateverTheVerdicts)
{
    CheckOutcome sound;
    EXPECT_EQ("{\"status\":\"sound\",\"problems\":0,\"rows\":[],\"omitted\":0}", FormatCheckLine(sound));
    sound.bRepair = true;
    sound.repaired = {"KfBuild.dll"};
    sound.undo.bRecorded = sound.undo.bWritten = true;
    sound.undo.strFile = L"C:\\Undo\\r.reg";
    sound.undo.counts = {3, 4};
    EXPECT_EQ("{\"status\":\"sound\",\"problems\":0,\"rows\":[],\"omitted\":0,\"repaired\":[\"KfBuild.dll\"],"
              "\"undo\":{\"file\":\"C:\\\\Undo\\\\r.reg\",\"keys\":3,\"values\":4}}",
              FormatCheckLine(sound));
    sound.undo = UndoOutcome();
    sound.undo.bRecorded = true;
    EXPECT_NE(std::string::npos, FormatCheckLine(sound).find(",\"undo\":{\"file\":null,\"why\":\"the registry did not change\"}}"));

    CheckOutcome broken;
    broken.bRepair = true;
    for (int i = 0; i < 95; ++i) {
        broken.problems.push_back({CString(("Kf" + std::to_string(i) + ".dll").c_str()), CString(Repeat("\"\\\xe6\x8a\xa5", 40).c_str())});
        broken.repaired.push_back(CString(("Kv" + std::to_string(i) + ".dll").c_str()));
    }
    const std::string line = FormatCheckLine(broken);
    EXPECT_LE(line.size(), CHECK_LINE_LIMIT);
    EXPECT_EQ(0u, line.find("{\"status\":\"problems\",\"problems\":95,")) << line;
    EXPECT_EQ('}', line.back());
}
