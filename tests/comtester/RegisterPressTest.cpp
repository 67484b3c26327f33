// One press of Register Selected: the tree searched once for every selected
// row, and executables that are no programs refused before anything starts.
#include "PageDriver.h"
#include "common/TestSupport.h"
#include "engine/components/Catalogue.h"
#include "engine/components/Registration.h"
#include "engine/components/SelfRegistration.h"
#include "engine/components/Verification.h"
#include "engine/diagnosis/Diagnosis.h"
#include "res/resource.h"
#include <gtest/gtest.h>
#include <fstream>
#include <iterator>

using namespace page_driver;

namespace {
// Counts what the press shows of itself.
class CCountingProgress : public CWorkProgress {
public:
    void SetProgressPos(int nPos) override { positions.push_back(nPos); }
    void OnFolderEntered() override { ++nFolders; }
    int nFolders = 0;
    std::vector<int> positions;
};

std::unique_ptr<ComponentItem> Record(const char* pszFileName)
{
    const CatalogueEntry* pEntry = FindCatalogueEntry(pszFileName);
    return std::make_unique<ComponentItem>(pEntry->pszProgID, pEntry->pszFileName, pEntry->nKind, "-");
}
}

TEST(RegisterPress, SearchesTheTreeOnceForEverySelectedRowAndShowsTheWalk)
{
    CTempDir dir;
    const std::string system = dir.MakeDir("Tools\\System");
    for (int i = 0; i < 12; ++i) dir.MakeFile("Tools\\System\\Folder" + std::to_string(i) + "\\Deeper\\readme.txt");
    CServerCopies servers(dir);
    const std::string build = servers.Add("ForgeSampleServer.dll", "Tools\\System\\Folder3\\Deeper\\KfBuild.dll");
    auto a = Record("KfBuild.dll"), b = Record("KfCore.dll"), c = Record("KfMedia.dll");
    ASSERT_EQ(KIND_TOOL_SYSTEM, a->nKind);
    ASSERT_EQ(KIND_TOOL_SYSTEM, c->nKind);

    CCountingProgress progress;
    RegisterRecords({a.get(), b.get(), c.get()}, true, VerificationFolders{system.c_str(), ""}, progress);
    // 1 + 12 + 12 folders: each entered once, however many rows look in them.
    EXPECT_EQ(25, progress.nFolders);
    EXPECT_EQ((std::vector<int>{1, 2, 3, 0}), progress.positions);
    EXPECT_EQ(CString(build.c_str()), a->strLocation);
    EXPECT_EQ(CString("Yes"), a->strRegistered);
    EXPECT_TRUE(b->strLocation.IsEmpty());
    EXPECT_EQ(CString("No"), b->strRegistered);

    RegisterRecords({a.get()}, false, VerificationFolders{system.c_str(), ""}, progress);
    EXPECT_EQ(CString("No"), a->strRegistered);
}

TEST(RegisterPress, AnExecutableThatIsNoProgramIsRefusedWithoutAnErrorBox)
{
    CTempDir dir;
    std::string dll;
    {
        std::ifstream in(TestProgramFolder() + "\\ForgeSampleServer.dll", std::ios::binary);
        dll.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    ASSERT_GT(dll.size(), 4096u);
    const std::vector<std::pair<std::string, std::string>> files = {
        {"empty", ""}, {"truncated", dll.substr(0, 300)}, {"a DLL", dll}, {"text", "MZ not really a program"}};
    for (const auto& [what, bytes] : files) {
        const std::string path = dir.MakeFile(what + "\\KfBuildSrv.exe", bytes);
        RegistrationResult result;
        const auto boxes = CloseMessageBoxesDuring([&] { RegisterServerFile(CString(path.c_str()), true, &result); });
        EXPECT_TRUE(boxes.empty()) << what << ": " << (boxes.empty() ? "" : boxes[0].text);
        EXPECT_EQ(STAGE_NONE, result.nStage) << what;
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT), result.hr) << what;
        const CString verdict = ComponentVerdict(DiagnoseComponent("KfBuildSrv.exe", "ForgeBuild.Server.1", path.c_str(), result, CImportResolver()));
        EXPECT_EQ(LoadResourceString(IDS_VERDICT_NOT_MODULE), verdict) << what;
    }
}
