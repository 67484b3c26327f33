// "&Test Project" and "&Copy results to clipboard": creating the server,
// opening the project, the lines of each failure, and the exported text.
#include "AutomationServer.h"
#include "system/SystemInfo.h"
#include "res/resource.h"
#include <gtest/gtest.h>
#include <optional>

namespace {
const char LINE_PROGID[] = "Failure at:CProjectTester::OnTestProject Function:CLSIDFromProgID";
const char LINE_CREATE[] = "Failure at:CProjectTester::OnTestProject Function:CoCreateInstance";
const char LINE_QUERY[] = "Failure at:CProjectTester::OnTestProject Function:QueryInterface For IAppServices";
const char LINE_OPEN[] = "Failure at:CProjectTester::OnTestProject Function:spAppServices->ProjectOpen";
const char GOOD_PROJECT[] = "type 3\nfeature Alpha\n  feature Beta\n";
const char GOOD_TREE[] = "Swift Project #0 +\n  Alpha #1 +\n    Beta #1\n";
}

TEST(OpenProject, UnregisteredServerGivesExactlyOneLineAndKeepsTheTree)
{
    CTempDir dir;
    const std::string path = dir.MakeFile("good.kvp", GOOD_PROJECT);
    std::optional<CInprocServerRegistration> server(std::in_place);
    ASSERT_TRUE(server->Registered());
    std::string treeBefore;
    const PageResult result = RunProjectPage([&](HWND hPage, std::vector<MessageBoxSeen>& boxes) {
        TestProject(hPage, path, boxes);
        treeBefore = TreeText(GetDlgItem(hPage, IDC_PROJECT_TREE));
        server.reset();
        TestProject(hPage, path, boxes);
    });
    EXPECT_EQ(GOOD_TREE, treeBefore);
    EXPECT_EQ(GOOD_TREE, result.tree);
    EXPECT_EQ(std::vector<std::string>{LINE_PROGID}, result.errors);
    EXPECT_TRUE(result.boxes.empty());
}

TEST(OpenProject, ServerThatCannotCreateOrRefusesTheInterfaceEndsTheTest)
{
    CInprocServerRegistration server;
    ASSERT_TRUE(server.Registered());
    CTempDir dir;
    const std::string path = dir.MakeFile("good.kvp", GOOD_PROJECT);
    std::string treeAfterCreateFailure;
    const PageResult result = RunProjectPage([&](HWND hPage, std::vector<MessageBoxSeen>& boxes) {
        TestProject(hPage, path, boxes);
        {
            CScopedEnv options("TORVEX_APPSERVICES_OPTIONS", "fail-create");
            TestProject(hPage, path, boxes);
        }
        treeAfterCreateFailure = TreeText(GetDlgItem(hPage, IDC_PROJECT_TREE));
        CScopedEnv options("TORVEX_APPSERVICES_OPTIONS", "refuse-appservices");
        TestProject(hPage, path, boxes);
    });
    EXPECT_EQ(GOOD_TREE, treeAfterCreateFailure);
    EXPECT_EQ(GOOD_TREE, result.tree);
    EXPECT_EQ((std::vector<std::string>{LINE_CREATE, LINE_QUERY}), result.errors);
}

TEST(OpenProject, FailedOpenEmptiesTheTreeAndLinesOfTwoTestsStandInOrder)
{
    CInprocServerRegistration server;
    ASSERT_TRUE(server.Registered());
    CTempDir dir;
    const std::string good = dir.MakeFile("good.kvp", GOOD_PROJECT);
    const std::string broken = dir.MakeFile("broken.kvp", "type 3\nnonsense here\n");
    std::string treeAfterMissing;
    const PageResult result = RunProjectPage([&](HWND hPage, std::vector<MessageBoxSeen>& boxes) {
        TestProject(hPage, good, boxes);
        TestProject(hPage, dir / "missing.kvp", boxes);
        treeAfterMissing = TreeText(GetDlgItem(hPage, IDC_PROJECT_TREE));
        TestProject(hPage, "", boxes);
        TestProject(hPage, broken, boxes);
    });
    EXPECT_EQ("", treeAfterMissing);
    EXPECT_EQ("", result.tree);
    EXPECT_EQ((std::vector<std::string>{LINE_OPEN, LINE_OPEN, LINE_OPEN}), result.errors);
}

TEST(OpenProject, AProjectGivenWithAFailedOpenIsStillShown)
{
    CInprocServerRegistration server;
    ASSERT_TRUE(server.Registered());
    const PageResult result = TestProjectText(std::string(GOOD_PROJECT) + "fail ProjectOpen 0x80004005 keep\n"
                                              "fail get_Name 0x80004005 Beta\n");
    EXPECT_EQ("Swift Project #0 +\n  Alpha #1\n", result.tree);
    EXPECT_EQ((std::vector<std::string>{LINE_OPEN,
                                        "Failure at:CProjectTesterTree::AddFeaturesToTree Function:spFeature->get_Name"}),
              result.errors);
}

TEST(CopyResults, NoErrorsGiveTheSummaryAloneAndEachLineEndsInCrLf)
{
    CInprocServerRegistration server;
    ASSERT_TRUE(server.Registered());
    CTempDir dir;
    const std::string path = dir.MakeFile("faulty.kvp", "type 3\nfeature A\nfail Close 0x80004005\n");
    std::optional<std::string> empty, two;
    RunProjectPage([&](HWND hPage, std::vector<MessageBoxSeen>& boxes) {
        WriteClipboardText("old content");
        ClickButton(hPage, IDC_COPY_PROJECT_RESULTS);
        empty = ReadClipboardText();
        TestProject(hPage, path, boxes);
        TestProject(hPage, dir / "missing.kvp", boxes);
        ClickButton(hPage, IDC_COPY_PROJECT_RESULTS);
        two = ReadClipboardText();
    });
    const std::string summary = GetSystemSummary().Str();
    ASSERT_FALSE(summary.empty());
    EXPECT_EQ(summary, empty.value_or("(none)"));
    EXPECT_EQ(summary + "Failure at:CProjectTesterTree::PopulateTree Function:spProject->Close\r\n" + LINE_OPEN + "\r\n",
              two.value_or("(none)"));
}
