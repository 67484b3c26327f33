// Text outside the ANSI code page: the code page the manifest gives, the
// conversions between the program's strings and UTF-16, comparison of names,
// and the two text formats of the clipboard.
#include "app/SystemServices.h"
#include "common/TestSupport.h"
#include "framework/CBstr.h"
#include "framework/CString.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <vector>

namespace {
// "Café Привет 中文 😀 ā": Latin, Cyrillic, CJK, beyond U+FFFF, and a letter
// that code page 1252 lacks but would best-fit to "a".
const char MIXED[] = u8"Caf\u00e9 \u041f\u0440\u0438\u0432\u0435\u0442 \u4e2d\u6587 \U0001F600 \u0101\r\n";
const char MIXED_1252[] = "Caf\xe9 ?????? ?? ? ?\r\n";

std::vector<char> ManifestOf(HMODULE hModule)
{
    HRSRC hInfo = FindResourceW(hModule, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));   // RT_MANIFEST
    if (!hInfo) return {};
    const char* p = static_cast<const char*>(LockResource(LoadResource(hModule, hInfo)));
    return p ? std::vector<char>(p, p + SizeofResource(hModule, hInfo)) : std::vector<char>();
}
}

TEST(CodePage, TestProgramsRunUnderTheExecutablesManifestWithUtf8)
{
    EXPECT_EQ(65001u, GetACP());
    HMODULE hExe = LoadLibraryExA((TestProgramFolder() + "\\ForgeSupport.exe").c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, hExe);
    const std::vector<char> exe = ManifestOf(hExe);
    FreeLibrary(hExe);
    const std::vector<char> own = ManifestOf(GetModuleHandleW(nullptr));
    EXPECT_FALSE(own.empty());
    EXPECT_EQ(exe, own);
    EXPECT_NE(std::string::npos, std::string(own.begin(), own.end()).find(">UTF-8</activeCodePage>"));
}

TEST(UnicodeText, ConversionsKeepLongNamesWhole)
{
    // 400 CJK characters take 1,200 bytes, more than twice their length
    // plus two; a character beyond U+FFFF takes two UTF-16 units and four bytes.
    const std::string name = Repeat(u8"\u5b57", 400) + u8" \U00020BB7 \u041c\u0438\u0440";
    const CBstr bstr(name.c_str());
    EXPECT_EQ(FromUtf8(name), std::wstring(bstr.Get(), SysStringLen(bstr.Get())));
    EXPECT_EQ(name, bstr.ToAnsi().Str());
    EXPECT_EQ(name, CString::FromWide(FromUtf8(name).c_str()).Str());
    EXPECT_EQ(FromUtf8(name), CString(name.c_str()).ToWide());
    EXPECT_EQ("", CBstr().ToAnsi().Str());

    // A lower-case letter may take more bytes than its capital.
    CString text(u8"\u023a\u0416 KF.DLL");   // U+023A lower-cases to U+2C65
    text.MakeLower();
    EXPECT_EQ(std::string(u8"\u2c65\u0436 kf.dll"), text.Str());
}

TEST(UnicodeText, NamesCompareIgnoringCaseInEveryScript)
{
    EXPECT_EQ(0, CString(u8"\u041f\u0420\u0418\u0412\u0415\u0422.dll").CompareNoCase(u8"\u043f\u0440\u0438\u0432\u0435\u0442.DLL"));
    EXPECT_EQ(0, CString(u8"\u00c4RGER\u03a3").CompareNoCase(u8"\u00e4rger\u03c3"));
    EXPECT_NE(0, CString(u8"\u0416.dll").CompareNoCase(u8"\u0417.dll"));

    // ASCII keeps the order of _stricmp ("_" between digits and letters);
    // other text follows in code-point order, case folded.
    std::vector<CString> names = {u8"\U0001F600", u8"\u4e2d", u8"\u0436", u8"\u0416b", "b", "_x", "A", "1", ".x",
                                  u8"\u00e9", u8"\u00c9a"};
    std::sort(names.begin(), names.end(), [](const CString& a, const CString& b) { return a.CompareNoCase(b) < 0; });
    std::vector<std::string> sorted;
    for (const CString& name : names) sorted.push_back(name.Str());
    EXPECT_EQ((std::vector<std::string>{".x", "1", "_x", "A", "b", u8"\u00e9", u8"\u00c9a", u8"\u0436", u8"\u0416b",
                                        u8"\u4e2d", u8"\U0001F600"}),
              sorted);
}

TEST(ClipboardTest, UnicodeTextIsExactAndTextUsesTheUsersCodePage)
{
    WriteClipboardText("old content");
    ASSERT_TRUE(PlaceTextOnClipboard(nullptr, MIXED));
    EXPECT_EQ(FromUtf8(MIXED), ReadClipboardUnicode());

    const std::string legacy = ReadClipboardText().value_or("");
    const UINT cp = UserCodePage();
    if (cp == 1252) {
        EXPECT_EQ(MIXED_1252, legacy);
    }
    // In any code page: one character for each character, each the same or "?".
    std::wstring decoded(legacy.size(), L'\0');
    decoded.resize(static_cast<size_t>(MultiByteToWideChar(cp, 0, legacy.data(), static_cast<int>(legacy.size()),
                                                            &decoded[0], static_cast<int>(decoded.size()))));
    std::wstring expected = FromUtf8(MIXED);
    expected.erase(expected.find(L'\xDE00'), 1);   // the second unit of U+1F600
    ASSERT_EQ(expected.size(), decoded.size()) << legacy;
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(decoded[i] == expected[i] || decoded[i] == L'?') << i;
}
