// Test Project can be stopped while an automation call is pending: Esc is
// heard through the message filter, which asks COM to cancel the call; the
// walk goes no further, the tree keeps what it had, and one line says so;
// the project is still closed and the server still ends.
#include "AutomationServer.h"
#include "framework/CString.h"
#include "res/resource.h"
#include <gtest/gtest.h>
#include <thread>

TEST(StopProject, EscDuringAPendingCallStopsTheTestWithOneLine)
{
    CLocalServerRegistration server;
    ASSERT_TRUE(server.Registered());
    CTempDir dir;
    const std::string logPath = dir / "calls.log";
    const CScopedEnv log("TORVEX_APPSERVICES_LOG", logPath);
    const CScopedEnv logCalls("TORVEX_APPSERVICES_LOG_CALLS", "Close");
    // Alpha's name takes four seconds; the user presses Esc meanwhile.
    const std::string path = dir.MakeFile("slow.kvp", "type 3\nfeature Alpha\nfeature Beta\nslow get_Name 4000 Alpha\n");
    const PageResult result = RunProjectPage([&](HWND hPage, std::vector<MessageBoxSeen>& boxes) {
        HWND hSheet = GetParent(hPage);
        std::thread user([&] {
            WaitFor([] { return CountProcesses("TorvexAppServicesServer.exe") > 0; });
            Sleep(1500);
            PostMessageA(hSheet, WM_KEYDOWN, VK_ESCAPE, 0);
        });
        TestProject(hPage, path, boxes);
        user.join();
    });

    EXPECT_TRUE(result.boxes.empty()) << result.boxes.front().text;
    ASSERT_EQ(1u, result.errors.size()) << result.errors.front();
    EXPECT_EQ(LoadResourceString(IDS_PROJECT_STOPPED).Str(), result.errors.back());
    // The project node stays; the walk went no further than the pending call.
    EXPECT_NE(std::string::npos, result.tree.find("Swift Project")) << result.tree;
    EXPECT_EQ(std::string::npos, result.tree.find("Beta")) << result.tree;
    // The project is closed and the server ends once its last object is released.
    EXPECT_EQ("Close\r\n", ReadFileText(logPath));
    EXPECT_TRUE(WaitFor([] { return CountProcesses("TorvexAppServicesServer.exe") == 0; }));
}
