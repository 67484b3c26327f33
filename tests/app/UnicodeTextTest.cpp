// Text outside the ANSI code page: the code page the manifest gives, the
// conversions to and from UTF-16, comparison of names, the clipboard.
#include "system/ClipboardText.h"
#include "common/TestSupport.h"
#include "framework/CBstr.h"
#include <gtest/gtest.h>
#include <algorithm>

namespace {
std::string ManifestOf(HMODULE hModule)
{
    HRSRC hInfo = FindResourceW(hModule, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));   // RT_MANIFEST
    const char* p = hInfo ? static_cast<const char*>(LockResource(LoadResource(hModule, hInfo))) : nullptr;
    return p ? std::string(p, SizeofResource(hModule, hInfo)) : std::string();
}
}

TEST(CodePage, TestProgramsRunUnderTheExecutablesManifestWithUtf8)
{
    EXPECT_EQ(65001u, GetACP());
    HMODULE hExe = LoadLibraryExA(OwnProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, hExe);
    EXPECT_EQ(ManifestOf(hExe), ManifestOf(GetModuleHandleW(nullptr)));
    EXPECT_NE(std::string::npos, ManifestOf(hExe).find(">UTF-8</activeCodePage>"));
    FreeLibrary(hExe);
}

TEST(UnicodeText, LongNamesConvertWholeAndCompareIgnoringCaseInEveryScript)
{
    // 400 CJK characters take 1,200 bytes, more than twice their length plus
    // two; U+20BB7 takes two UTF-16 units and four bytes.
    const std::string name = Repeat(u8"\u5b57", 400) + u8" \U00020BB7 \u041c\u0438\u0440";
    const CBstr bstr(name.c_str());
    EXPECT_EQ(FromUtf8(name), std::wstring(bstr.Get(), SysStringLen(bstr.Get())));
    EXPECT_EQ(name, bstr.ToAnsi().Str());
    CString lower(u8"\u023a\u0416 KF.DLL");   // U+023A lower-cases to U+2C65, a byte longer
    lower.MakeLower();
    EXPECT_EQ(std::string(u8"\u2c65\u0436 kf.dll"), lower.Str());

    EXPECT_EQ(0, CString(u8"\u041f\u0420\u0418\u0412\u0415\u0422.dll")
                     .CompareNoCase(u8"\u043f\u0440\u0438\u0432\u0435\u0442.DLL"));
    // ASCII in the order of _stricmp ("_" between digits and letters), the
    // rest after it in code-point order, case folded.
    std::vector<std::string> names = {u8"\U0001F600", u8"\u4e2d", u8"\u0416b", u8"\u0436", "b",
                                      "_x", "A", "1", u8"\u00c9a", u8"\u00e9"};
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return CString(a).CompareNoCase(b.c_str()) < 0; });
    EXPECT_EQ((std::vector<std::string>{"1", "_x", "A", "b", u8"\u00e9", u8"\u00c9a", u8"\u0436", u8"\u0416b",
                                        u8"\u4e2d", u8"\U0001F600"}),
              names);
}

TEST(ClipboardTest, UnicodeTextIsExactAndTextUsesTheUsersCodePage)
{
    // Code page 1252 lacks Cyrillic, CJK and U+1F600 (one "?", not two), and
    // a with macron, which best fit would turn into "a".
    const char text[] = u8"Caf\u00e9 \u041f\u0440\u0438\u0432\u0435\u0442 \u4e2d\u6587 \U0001F600 \u0101\r\n";
    WriteClipboardText("old content");
    ASSERT_TRUE(PlaceTextOnClipboard(nullptr, text));
    EXPECT_EQ(FromUtf8(text), ReadClipboardUnicode());
    if (UserCodePage() == 1252) {
        EXPECT_EQ("Caf\xe9 ?????? ?? ? ?\r\n", ReadClipboardText());
    }
}
