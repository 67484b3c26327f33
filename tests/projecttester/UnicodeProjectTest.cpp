// A project in a folder outside the ANSI code page, with feature names in
// Cyrillic, CJK and beyond U+FFFF, opened through the real page.
#include "AutomationServer.h"
#include "res/resource.h"
#include <gtest/gtest.h>
#include <commctrl.h>

namespace {
// One line per node, two spaces of indent per level, read as UTF-16.
void AppendTreeW(HWND hTree, HTREEITEM hItem, int depth, std::wstring& out)
{
    for (; hItem; hItem = TreeView_GetNextSibling(hTree, hItem)) {
        wchar_t szText[4096] = L"";
        TVITEMW item = {};
        item.mask = TVIF_TEXT;
        item.hItem = hItem;
        item.pszText = szText;
        item.cchTextMax = 4096;
        SendMessageW(hTree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        out += std::wstring(static_cast<size_t>(depth) * 2, L' ') + szText + L"\n";
        AppendTreeW(hTree, TreeView_GetChild(hTree, hItem), depth + 1, out);
    }
}
}

TEST(UnicodeProject, FeatureNamesOutsideTheCodePageAreShownWhole)
{
    CInprocServerRegistration server;
    ASSERT_TRUE(server.Registered());
    // 400 characters, 1,200 bytes: more than twice the length plus two.
    const std::string longName = Repeat(u8"\u5b57", 400);
    const std::string cyrillic = u8"\u041e\u0441\u043d\u043e\u0432\u043d\u0430\u044f \u0447\u0430\u0441\u0442\u044c";
    const std::string cjk = u8"\u4e2d\u6587\u529f\u80fd";
    const std::string astral = u8"Emoji \U0001F600 \U00020BB7";

    CTempDir dir;
    // Saved by an editor that starts UTF-8 with a byte-order mark.
    const std::string path = dir.MakeFile(u8"\u041f\u0440\u043e\u0435\u043a\u0442\u044b \u9879\u76ee\\\u0414\u0435\u043c\u043e.kvp",
                                          "\xEF\xBB\xBFtype 1\nfeature " + cyrillic + "\n  feature " + cjk +
                                              "\nfeature " + astral + "\n  feature " + longName + "\n");
    std::wstring tree;
    const PageResult result = RunProjectPage([&](HWND hPage, std::vector<MessageBoxSeen>& boxes) {
        // The path as a user types or pastes it: UTF-16 in the box.
        SetWindowTextW(GetDlgItem(hPage, IDC_PROJECT_PATH), FromUtf8(path).c_str());
        const auto seen = CloseMessageBoxesDuring([&] { ClickButton(hPage, IDC_TEST_PROJECT); });
        boxes.insert(boxes.end(), seen.begin(), seen.end());
        AppendTreeW(GetDlgItem(hPage, IDC_PROJECT_TREE), TreeView_GetRoot(GetDlgItem(hPage, IDC_PROJECT_TREE)), 0, tree);
    });
    EXPECT_TRUE(result.errors.empty()) << result.errors.front();
    EXPECT_TRUE(result.boxes.empty());
    EXPECT_EQ(L"Forge Project (Standard)\n  " + FromUtf8(astral) + L"\n    " + FromUtf8(longName) + L"\n  " +
                  FromUtf8(cyrillic) + L"\n    " + FromUtf8(cjk) + L"\n",
              tree);
}

TEST(UnicodeProject, ServersErrorDescriptionIsReportedWhole)
{
    CInprocServerRegistration server;
    ASSERT_TRUE(server.Registered());
    // "Список заблокирован 锁定": the server's own description of a failed Next.
    const std::string description = u8"\u0421\u043f\u0438\u0441\u043e\u043a \u0437\u0430\u0431\u043b\u043e\u043a\u0438\u0440\u043e\u0432\u0430\u043d \u9501\u5b9a";
    const PageResult result =
        TestProjectText("feature A\nfail Next 0x80040200\nerror Next Torvex.Features " + description + "\n");
    ASSERT_EQ(1u, result.boxes.size());
    EXPECT_EQ(description, result.boxes[0].text);
}
