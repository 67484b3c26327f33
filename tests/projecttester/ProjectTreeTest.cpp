// The project tree filled from the sample server through the real page:
// captions, order and expansion, and every failure the walk reports.
#include "AutomationServer.h"
#include "ui/projecttester/ProjectTesterTree.h"
#include "engine/project/ProjectWalk.h"
#include "res/resource.h"
#include <commctrl.h>
#include <gtest/gtest.h>
#include <fstream>
#include <sstream>

namespace {
const char PREFIX_TREE[] = "Failure at:CProjectTesterTree::";

// Walks of a feature graph that loops: the sample server without its call
// log, which would open the log file for each of hundreds of thousands of
// calls.
class ProjectTreeLimits : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_server.Registered()); }
    CInprocServerRegistration m_server;
};

// The server logs the calls the tests look for.
class ProjectTree : public ProjectTreeLimits {
protected:
    // The calls the server received of those logged, one name per line.
    std::string Calls() const
    {
        std::ifstream in(m_logPath, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    bool CloseCalled() const { return Calls().find("Close\r\n") != std::string::npos; }

    CTempDir m_logDir;
    std::string m_logPath = m_logDir / "calls.log";
    CScopedEnv m_log{"TORVEX_APPSERVICES_LOG", m_logPath};
    CScopedEnv m_logCalls{"TORVEX_APPSERVICES_LOG_CALLS", "get_Features Close"};
};

const char FEATURES[] =
    "feature A\n"
    "  feature A1\n"
    "  feature A2\n"
    "feature B\n"
    "feature C\n"
    "  feature C1\n"
    "    feature C1x\n";

// A failure without an error object is described by the system's text, line
// end included, or "Unknown error" when the system has none.
std::string DescriptionOf(HRESULT hr)
{
    const std::string text = SystemText(hr);
    return text.empty() ? "Unknown error" : text;
}

// The tree that FEATURES gives under a project node captioned 'caption'.
std::string FullTree(const std::string& caption)
{
    return caption + " #0 +\n"
           "  C #1 +\n"
           "    C1 #1 +\n"
           "      C1x #1\n"
           "  B #1\n"
           "  A #1 +\n"
           "    A2 #1\n"
           "    A1 #1\n";
}
}

TEST_F(ProjectTree, CaptionsFollowTypeAndScriptBasedFlag)
{
    EXPECT_EQ(FullTree("Forge Project (Standard)"), TestProjectText(std::string("type 1\nscriptbased yes\n") + FEATURES).tree);
    EXPECT_EQ(FullTree("Forge Project (Basic)"), TestProjectText(std::string("type 1\nscriptbased no\n") + FEATURES).tree);
    EXPECT_EQ(FullTree("Torvex Project"), TestProjectText(std::string("type 1\nprojectinfo no\n") + FEATURES).tree);
    EXPECT_EQ(FullTree("Swift Project"), TestProjectText(std::string("type 3\n") + FEATURES).tree);
    EXPECT_EQ(FullTree(""), TestProjectText(std::string("type 7\n") + FEATURES).tree);
    EXPECT_TRUE(CloseCalled());
}

TEST_F(ProjectTree, MergeModuleShowsTheProjectNodeAloneWithoutAskingForFeatures)
{
    const PageResult result = TestProjectText(std::string("type 2\n") + FEATURES);
    EXPECT_EQ("Merge Module Project #0\n", result.tree);
    EXPECT_TRUE(result.errors.empty());
    EXPECT_EQ(std::string::npos, Calls().find("get_Features"));
    EXPECT_TRUE(CloseCalled());
}

TEST_F(ProjectTree, NullNameGivesAnEmptyNodeAndEmptyCollectionsGiveNoChildren)
{
    const PageResult result = TestProjectText("type 1\nfeature Named\nfeature Nameless\nnull get_Name Nameless\n");
    EXPECT_EQ("Forge Project (Standard) #0 +\n"
              "   #1\n"
              "  Named #1\n", result.tree);
    EXPECT_TRUE(result.errors.empty());
}

TEST_F(ProjectTree, EarlyFailuresLeaveTheTreeEmptyAndCloseAsTheRulesSay)
{
    struct Row { const char* directive; const char* line; bool closed; };
    const Row rows[] = {
        {"fail QueryIProject 0x80004002", "PopulateTree Function:QueryInterface For IProject", false},
        {"fail get_ProjectRoot 0x80004005", "PopulateTree Function:PopulateTree", true},
        {"fail get_ActiveProduct 0x80004005", "PopulateTree Function:spProjectRoot->get_ActiveProduct", true},
        {"null get_ActiveProduct", "PopulateTree Function:spProjectRoot->get_ActiveProduct", true},
        {"fail get_Type 0x80004005", "PopulateTree Function:spProjectRoot->get_Type", false},
        {"fail get_ScriptBased 0x80004005", "PopulateTree Function:spProjectRoot->get_ScriptBased", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.directive);
        DeleteFileA(m_logPath.c_str());
        const PageResult result = TestProjectText(std::string("type 1\n") + FEATURES + row.directive + "\n");
        EXPECT_EQ("", result.tree);
        ASSERT_EQ(1u, result.errors.size());
        EXPECT_EQ(std::string(PREFIX_TREE) + row.line, result.errors[0]);
        EXPECT_EQ(row.closed, CloseCalled());
        EXPECT_TRUE(result.boxes.empty());
    }
}

TEST_F(ProjectTree, NullProjectRootEndsWithCloseAndNoLine)
{
    const PageResult result = TestProjectText(std::string("type 1\n") + FEATURES + "null get_ProjectRoot\n");
    EXPECT_EQ("", result.tree);
    EXPECT_TRUE(result.errors.empty());
    EXPECT_TRUE(CloseCalled());
}

TEST_F(ProjectTree, FailedOrNullFeaturesLeaveTheProjectNodeAlone)
{
    for (const char* directive : {"fail get_Features 0x80004005", "null get_Features"}) {
        SCOPED_TRACE(directive);
        DeleteFileA(m_logPath.c_str());
        const PageResult result = TestProjectText(std::string("type 3\n") + FEATURES + directive + "\n");
        EXPECT_EQ("Swift Project #0\n", result.tree);
        ASSERT_EQ(1u, result.errors.size());
        EXPECT_EQ(std::string(PREFIX_TREE) + "PopulateTree Function:spProduct->get_Features", result.errors[0]);
        EXPECT_TRUE(CloseCalled());
    }
}

TEST_F(ProjectTree, FailedNameEndsItsLevelAndTheWalkGoesOnAbove)
{
    const PageResult result = TestProjectText(std::string("type 3\n") + FEATURES + "fail get_Name 0x80004005 B\n");
    EXPECT_EQ("Swift Project #0 +\n"
              "  A #1 +\n"
              "    A2 #1\n"
              "    A1 #1\n", result.tree);
    ASSERT_EQ(1u, result.errors.size());
    EXPECT_EQ(std::string(PREFIX_TREE) + "AddFeaturesToTree Function:spFeature->get_Name", result.errors[0]);
    EXPECT_TRUE(CloseCalled());

    // One level down: the failing level's parent is not expanded by it.
    const PageResult inner = TestProjectText(std::string("type 3\n") + FEATURES + "fail get_Name 0x80004005 A2\n");
    EXPECT_EQ("Swift Project #0 +\n"
              "  C #1 +\n"
              "    C1 #1 +\n"
              "      C1x #1\n"
              "  B #1\n"
              "  A #1\n"
              "    A1 #1\n", inner.tree);
}

TEST_F(ProjectTree, FailedOrNullSubFeaturesLeaveTheNodeWithoutChildren)
{
    for (const char* directive : {"fail get_SubFeatures 0x80004005 A", "null get_SubFeatures A"}) {
        SCOPED_TRACE(directive);
        DeleteFileA(m_logPath.c_str());
        const PageResult result = TestProjectText(std::string("type 3\n") + FEATURES + directive + "\n");
        EXPECT_EQ("Swift Project #0 +\n"
                  "  A #1\n", result.tree);
        ASSERT_EQ(1u, result.errors.size());
        EXPECT_EQ(std::string(PREFIX_TREE) + "AddFeaturesToTree Function:spFeature->get_SubFeatures", result.errors[0]);
        EXPECT_TRUE(CloseCalled());
    }
}

TEST_F(ProjectTree, FailedCloseIsReportedAndTheTreeStays)
{
    const PageResult result = TestProjectText(std::string("type 3\n") + FEATURES + "fail Close 0x80004005\n");
    EXPECT_EQ(FullTree("Swift Project"), result.tree);
    ASSERT_EQ(1u, result.errors.size());
    EXPECT_EQ(std::string(PREFIX_TREE) + "PopulateTree Function:spProject->Close", result.errors[0]);
}

TEST_F(ProjectTree, EnumerationFailuresRaiseAReportedExceptionAndKeepWhatWasInserted)
{
    struct Row { const char* directive; HRESULT hr; const char* tree; };
    const Row rows[] = {
        {"fail get__NewEnum 0x80070005 C1", E_ACCESSDENIED, "Swift Project #0\n  C #1\n    C1 #1\n"},
        {"fail Next 0x8007000E B", E_OUTOFMEMORY, "Swift Project #0\n  C #1 +\n    C1 #1 +\n      C1x #1\n"},
        {"fail QueryIFeature 0x80004002 B", E_NOINTERFACE, "Swift Project #0\n  C #1 +\n    C1 #1 +\n      C1x #1\n"},
        {"element number B", E_FAIL, "Swift Project #0\n  C #1 +\n    C1 #1 +\n      C1x #1\n"},
        {"element null-unknown B", E_POINTER, "Swift Project #0\n  C #1 +\n    C1 #1 +\n      C1x #1\n"},
        {"element null-dispatch B", E_POINTER, "Swift Project #0\n  C #1 +\n    C1 #1 +\n      C1x #1\n"},
    };
    // Features enumerate as C before B here: the order of FEATURES reversed.
    const std::string features = "feature C\n  feature C1\n    feature C1x\nfeature B\nfeature A\n";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.directive);
        DeleteFileA(m_logPath.c_str());
        const PageResult result = TestProjectText("type 3\n" + features + row.directive + "\n");
        ASSERT_EQ(1u, result.boxes.size());
        EXPECT_EQ("projecttester_tests", result.boxes[0].caption);
        EXPECT_TRUE(result.boxes[0].stopIcon);
        EXPECT_EQ(DescriptionOf(row.hr), result.boxes[0].text);
        EXPECT_TRUE(result.errors.empty());
        EXPECT_EQ(row.tree, result.tree);
        EXPECT_FALSE(CloseCalled());
    }
}

TEST_F(ProjectTree, TheExceptionShowsTheErrorObjectOfTheFailingCallOnly)
{
    const std::string features = "type 3\nfeature C\nfeature B\n";
    const PageResult withError = TestProjectText(features + "fail Next 0x80040200 B\nerror Next Torvex.Features Feature list is locked\n");
    ASSERT_EQ(1u, withError.boxes.size());
    EXPECT_EQ("Feature list is locked", withError.boxes[0].text);

    // get_Features succeeds but leaves an error object; the later failure
    // must not be described by it.
    const PageResult stale = TestProjectText(features + "error get_Features Stale.Source stale text\nfail get__NewEnum 0x80004005\n");
    ASSERT_EQ(1u, stale.boxes.size());
    EXPECT_EQ(DescriptionOf(E_FAIL), stale.boxes[0].text);
}

TEST_F(ProjectTreeLimits, DeepOrLoopingFeaturesStopAtTheDepthLimitWithOneLine)
{
    const PageResult deep = TestProjectText("type 3\nfeature Top\nchain 400 Top\nfeature Beside\n");
    ASSERT_EQ(1u, deep.errors.size());
    EXPECT_EQ(std::string(PREFIX_TREE) + "AddFeaturesToTree Function:depth limit", deep.errors[0]);
    // The project node, Top, and Level 1 to Level 255: 256 feature levels.
    EXPECT_NE(std::string::npos, deep.tree.find("Level 255 #1\n"));
    EXPECT_EQ(std::string::npos, deep.tree.find("Level 256 #1"));
    EXPECT_EQ(0u, deep.tree.find("Swift Project #0 +\n  Beside #1\n  Top #1 +\n"));

    const PageResult loop = TestProjectText("type 3\nfeature Round\nloop Round\n");
    ASSERT_EQ(1u, loop.errors.size());
    EXPECT_EQ(std::string(PREFIX_TREE) + "AddFeaturesToTree Function:depth limit", loop.errors[0]);
    EXPECT_TRUE(loop.boxes.empty());
}

TEST_F(ProjectTreeLimits, AGraphThatLoopsManyWaysEndsAtTheFeatureLimitWithWhatItShowsOpen)
{
    // Each feature leads back to both: the depth limit alone would end this
    // only after 2^256 nodes. The first way down meets the depth limit, the
    // walk as a whole then meets the feature limit.
    CTempDir dir;
    const std::string path = dir.MakeFile("loop.kvp", "type 3\nfeature A\nfeature B\nloop A\nloop B\n");
    std::vector<MessageBoxSeen> boxes;
    std::vector<std::string> errors;
    LRESULT nNodes = 0;
    int nPathLength = 0, nClosedOnPath = 0;
    // Not RunProjectPage: the whole tree as text would take longer than the
    // walk. Under Wine each call that names a node looks it up by a scan.
    RunSheet([&](HWND hSheet) {
        const HWND hPage = SelectPage(hSheet, 2);
        TestProject(hPage, path, boxes);
        errors = ErrorLines(GetDlgItem(hPage, IDC_ERROR_LIST));
        const HWND hTree = GetDlgItem(hPage, IDC_PROJECT_TREE);
        nNodes = SendMessageA(hTree, TVM_GETCOUNT, 0, 0);
        // Each level's first node is the one inserted last: from the project
        // node down, the path the walk was on when it stopped.
        for (HTREEITEM hItem = TreeView_GetRoot(hTree); hItem; hItem = TreeView_GetChild(hTree, hItem)) {
            ++nPathLength;
            if (TreeView_GetChild(hTree, hItem) && !(TreeView_GetItemState(hTree, hItem, TVIS_EXPANDED) & TVIS_EXPANDED))
                ++nClosedOnPath;
        }
    });
    ASSERT_EQ(2u, errors.size());
    EXPECT_EQ(std::string(PREFIX_TREE) + "AddFeaturesToTree Function:depth limit", errors[0]);
    EXPECT_EQ(std::string(PREFIX_TREE) + "AddFeaturesToTree Function:feature limit", errors[1]);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(1 + CProjectWalk::MAX_FEATURE_NODES, nNodes);
    // Depth first, A before B, the 150,000th feature is one of the deepest.
    EXPECT_EQ(1 + CProjectWalk::MAX_FEATURE_DEPTH, nPathLength);
    EXPECT_EQ(0, nClosedOnPath);
}

TEST_F(ProjectTree, ASecondTestStartsFromAnEmptyTree)
{
    CTempDir dir;
    const std::string first = dir.MakeFile("first.kvp", std::string("type 3\n") + FEATURES);
    const std::string second = dir.MakeFile("second.kvp", "type 1\nprojectinfo no\nfeature Only\n");
    const PageResult result = RunProjectPage([&](HWND hPage, std::vector<MessageBoxSeen>& boxes) {
        TestProject(hPage, first, boxes);
        TestProject(hPage, second, boxes);
    });
    EXPECT_EQ("Torvex Project #0 +\n  Only #1\n", result.tree);
}
