// A project in a Cyrillic and CJK folder whose feature names lie outside the
// ANSI code page, opened through the real page.
#include "AutomationServer.h"
#include <gtest/gtest.h>

TEST(UnicodeProject, FeatureNamesAndErrorDescriptionsAreShownWhole)
{
    CInprocServerRegistration server;
    ASSERT_TRUE(server.Registered());
    // 300 characters, 900 bytes: more than twice the length plus two.
    const std::string longName = Repeat(u8"\u5b57", 300);
    const std::string cyrillic =
        u8"\u041e\u0441\u043d\u043e\u0432\u043d\u0430\u044f \u0447\u0430\u0441\u0442\u044c";   // "main part"
    const std::string astral = u8"Emoji \U0001F600 \U00020BB7 \u4e2d\u6587";
    CTempDir dir;
    // Saved by an editor that starts UTF-8 with a byte-order mark.
    const std::string path =
        dir.MakeFile(u8"\u041f\u0440\u043e\u0435\u043a\u0442\u044b \u9879\u76ee\\\u0414\u0435\u043c\u043e.kvp",
                     "\xEF\xBB\xBF" "feature " + cyrillic + "\nfeature " + astral + "\n  feature " + longName + "\n");
    const PageResult result =
        RunProjectPage([&](HWND hPage, std::vector<MessageBoxSeen>& boxes) { TestProject(hPage, path, boxes); });
    EXPECT_TRUE(result.errors.empty());
    EXPECT_EQ("Forge Project (Standard) #0 +\n  " + astral + " #1 +\n    " + longName + " #1\n  " + cyrillic + " #1\n",
              result.tree);

    // "List is locked" in Russian: the server's own description of a failed Next.
    const std::string description =
        u8"\u0421\u043f\u0438\u0441\u043e\u043a \u0437\u0430\u0431\u043b\u043e\u043a\u0438\u0440\u043e\u0432\u0430\u043d";
    const PageResult failed =
        TestProjectText("feature A\nfail Next 0x80040200\nerror Next Torvex.Features " + description + "\n");
    ASSERT_EQ(1u, failed.boxes.size());
    EXPECT_EQ(description, failed.boxes[0].text);
}
