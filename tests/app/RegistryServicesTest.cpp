// Reading string values from the registry and file versions from files.
#include "system/Registry.h"
#include "system/FileVersion.h"
#include "common/TestSupport.h"
#include <gtest/gtest.h>
#include <string>

namespace {
const char* const SCRATCH = "Software\\KelvaraForgeTests\\RegistryServices";

class ReadRegStringTest : public ::testing::Test {
protected:
    void TearDown() override { DeleteRegTree(HKEY_CURRENT_USER, "Software\\KelvaraForgeTests"); }

    static void Write(const char* name, DWORD type, const void* data, DWORD size)
    {
        HKEY hKey = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, SCRATCH, 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &hKey, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(hKey, name, 0, type, static_cast<const BYTE*>(data), size));
        RegCloseKey(hKey);
    }
    static void WriteString(const char* name, const std::string& text, DWORD type = REG_SZ)
    {
        Write(name, type, text.c_str(), static_cast<DWORD>(text.size() + 1));
    }
    static std::string Read(const char* name)
    {
        return ReadRegString(HKEY_CURRENT_USER, SCRATCH, name).Str();
    }
};
}

TEST_F(ReadRegStringTest, ReadsStringValuesWholeWhateverTheirLength)
{
    WriteString("", "the default value");
    WriteString("Short", "C:\\Tools\\Authoring");
    const std::string text259(259, 'a');
    const std::string text300 = std::string(150, 'x') + std::string(150, 'y');
    const std::string text5000(5000, 'z');
    WriteString("Exactly259", text259);
    WriteString("Long300", text300);
    WriteString("VeryLong", text5000);

    EXPECT_EQ("the default value", Read(""));
    EXPECT_EQ("C:\\Tools\\Authoring", Read("Short"));
    EXPECT_EQ(text259, Read("Exactly259"));
    EXPECT_EQ(text300, Read("Long300"));
    EXPECT_EQ(text5000, Read("VeryLong"));
}

TEST_F(ReadRegStringTest, TakesOnlyTheBytesStoredAndStopsAtTheFirstNul)
{
    // A REG_SZ written without its terminating NUL: nothing past the stored
    // bytes may appear, whatever the buffer held before.
    Write("NoNul", REG_SZ, "abc", 3);
    Write("NoNulLong", REG_SZ, std::string(270, 'q').c_str(), 270);
    Write("Embedded", REG_SZ, "one\0two", 8);
    Write("Empty", REG_SZ, "", 0);

    EXPECT_EQ("abc", Read("NoNul"));
    EXPECT_EQ(std::string(270, 'q'), Read("NoNulLong"));
    EXPECT_EQ("one", Read("Embedded"));
    EXPECT_EQ("", Read("Empty"));
}

TEST_F(ReadRegStringTest, AnythingButAStringValueReadsEmpty)
{
    WriteString("Expandable", "%SystemRoot%\\System32", REG_EXPAND_SZ);
    Write("Multi", REG_MULTI_SZ, "a\0b\0", 5);
    const DWORD number = 42;
    Write("Number", REG_DWORD, &number, sizeof number);
    Write("Binary", REG_BINARY, "abc", 3);

    EXPECT_EQ("", Read("Expandable"));
    EXPECT_EQ("", Read("Multi"));
    EXPECT_EQ("", Read("Number"));
    EXPECT_EQ("", Read("Binary"));
}

TEST_F(ReadRegStringTest, MissingKeysAndValuesReadEmpty)
{
    WriteString("Present", "here");
    EXPECT_EQ("", Read("Absent"));
    EXPECT_EQ("", ReadRegString(HKEY_CURRENT_USER, "Software\\KelvaraForgeTests\\NoSuchKey", "Present").Str());
    EXPECT_EQ("", ReadRegString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kelvara\\NoSuchProduct\\8.0", "Install Location").Str());
}

TEST(GetFileVersionTest, ReadsTheFixedFileVersionWords)
{
    DWORD ms = 1, ls = 1;
    ASSERT_TRUE(GetFileVersion((TestProgramFolder() + "\\Versioned_5_1_2600_0.dll").c_str(), ms, ls));
    EXPECT_EQ(5u * 65536u + 1u, ms);
    EXPECT_EQ(2600u * 65536u, ls);
    EXPECT_EQ("5.1.2600.0", FormatFileVersion(ms, ls).Str());

    ASSERT_TRUE(GetFileVersion((TestProgramFolder() + "\\Versioned_6_0_2_26.dll").c_str(), ms, ls));
    EXPECT_EQ("6.0.2.26", FormatFileVersion(ms, ls).Str());
}

TEST(GetFileVersionTest, FilesWithoutVersionGiveFalseAndZeros)
{
    CTempDir dir;
    const std::string text = dir.MakeFile("readme.txt", "not a module");
    DWORD ms = 7, ls = 7;
    EXPECT_FALSE(GetFileVersion(text.c_str(), ms, ls));
    EXPECT_EQ(0u, ms);
    EXPECT_EQ(0u, ls);

    ms = ls = 7;
    EXPECT_FALSE(GetFileVersion((dir / "missing.dll").c_str(), ms, ls));
    EXPECT_EQ(0u, ms);
    EXPECT_EQ(0u, ls);
    EXPECT_EQ("0.0.0.0", FormatFileVersion(ms, ls).Str());
}

TEST(FormatFileVersionTest, PrintsFourUnsignedDecimalsWithoutLeadingZeros)
{
    EXPECT_EQ("6.0.2907.0", FormatFileVersion(MAKELONG(0, 6), MAKELONG(0, 2907)).Str());
    EXPECT_EQ("65535.65535.65535.65535", FormatFileVersion(0xFFFFFFFFu, 0xFFFFFFFFu).Str());
    EXPECT_EQ("10.0.0.0", FormatFileVersion(MAKELONG(0, 10), 0).Str());
}
