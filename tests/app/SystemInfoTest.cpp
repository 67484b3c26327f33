// Naming the operating system, the system summary and the clipboard export.
#include "system/FileVersion.h"
#include "system/SystemInfo.h"
#include "system/ClipboardText.h"
#include "common/TestSupport.h"
#include "framework/CString.h"
#include "res/resource.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <thread>

namespace {
OSVERSIONINFOA Version(DWORD platform, DWORD major, DWORD minor, DWORD build = 0)
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    info.dwPlatformId = platform;
    info.dwMajorVersion = major;
    info.dwMinorVersion = minor;
    info.dwBuildNumber = build;
    return info;
}

std::string Name(const OSVERSIONINFOA& info)
{
    const UINT id = GetOSNameId(info);
    return id ? LoadResourceString(id).Str() : std::string();
}

const std::string DASHES(34, '-');
}

TEST(OSNameTest, NamesEverySystemOfTheTable)
{
    EXPECT_EQ("Win32s on Windows 3.1", Name(Version(0, 3, 10)));
    EXPECT_EQ("Windows 95", Name(Version(1, 4, 0)));
    EXPECT_EQ("Windows 98", Name(Version(1, 4, 10)));
    EXPECT_EQ("Windows Me", Name(Version(1, 4, 90)));
    EXPECT_EQ("Windows 95, Windows 98, or Windows Me", Name(Version(1, 4, 3)));
    EXPECT_EQ("Windows 98", Name(Version(1, 7, 10)));   // the major version is not looked at
    EXPECT_EQ("Windows NT", Name(Version(2, 4, 0)));
    EXPECT_EQ("Windows NT", Name(Version(2, 4, 7)));
    EXPECT_EQ("Windows 2000", Name(Version(2, 5, 0)));
    EXPECT_EQ("Windows XP", Name(Version(2, 5, 1)));
    const std::string family = "Windows NT 3.51, Windows NT 4.0, Windows 2000, or Whistler.";
    EXPECT_EQ(family, Name(Version(2, 5, 2)));
    EXPECT_EQ(family, Name(Version(2, 3, 51)));
    EXPECT_EQ(family, Name(Version(2, 6, 1)));
    EXPECT_EQ(family, Name(Version(2, 10, 0)));
}

TEST(OSNameTest, UnknownPlatformsHaveNoName)
{
    EXPECT_EQ(0u, GetOSNameId(Version(3, 5, 1)));
    EXPECT_EQ(0u, GetOSNameId(Version(0xFFFFFFFF, 5, 1)));
    // A failed GetVersionEx leaves zeros: Win32s 0.0.0.
    const OSVERSIONINFOA zeros = Version(0, 0, 0);
    EXPECT_EQ("Win32s on Windows 3.1", Name(zeros));
    EXPECT_EQ("0.0.0", FormatOSVersion(zeros).Str());
}

TEST(OSVersionTest, PrintsMajorMinorAndBuild)
{
    EXPECT_EQ("5.1.2600", FormatOSVersion(Version(2, 5, 1, 2600)).Str());
    EXPECT_EQ("6.1.7601", FormatOSVersion(Version(2, 6, 1, 7601)).Str());
    // The Windows 95 family keeps its version in the build number's high word.
    EXPECT_EQ("4.10.2222", FormatOSVersion(Version(1, 4, 10, MAKELONG(2222, 0x040A))).Str());
    EXPECT_EQ("4.90.3000", FormatOSVersion(Version(1, 4, 90, MAKELONG(3000, 0x045A))).Str());
}

TEST(SystemSummaryTest, SixLinesFramedByDashes)
{
    EXPECT_EQ(DASHES + "\r\nWindows XP\r\n5.1.2600\r\nService Pack 1\r\nInternet Explorer Version: 6.0.2800.1106\r\n" +
                  DASHES + "\r\n",
              FormatSystemSummary("Windows XP", "5.1.2600", "Service Pack 1", "6.0.2800.1106").Str());
    // No service pack: line 4 is empty and the block keeps six lines.
    EXPECT_EQ(DASHES + "\r\nWindows 2000\r\n5.0.2195\r\n\r\nInternet Explorer Version: 5.0.3700.1000\r\n" +
                  DASHES + "\r\n",
              FormatSystemSummary("Windows 2000", "5.0.2195", "", "5.0.3700.1000").Str());
}

TEST(SystemSummaryTest, DescribesThisMachine)
{
    CString name, version, servicePack;
    GetOSInfo(name, version, servicePack);
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    ASSERT_TRUE(GetVersionExA(&info));
#pragma GCC diagnostic pop
    EXPECT_EQ(Name(info), name.Str());
    EXPECT_EQ(std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + "." +
                  std::to_string(info.dwBuildNumber),
              version.Str());
    EXPECT_EQ(std::string(info.szCSDVersion), servicePack.Str());

    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    DWORD ms = 0, ls = 0;
    GetFileVersion((std::string(system) + "\\shdocvw.dll").c_str(), ms, ls);
    EXPECT_EQ(FormatFileVersion(ms, ls).Str(), GetIEVersion().Str());
    EXPECT_EQ(FormatSystemSummary(name, version, servicePack, GetIEVersion()).Str(), GetSystemSummary().Str());
}

TEST(ClipboardTest, PlacesExactlyTheTextAsCfTextWithOneNul)
{
    const std::string text = "first line\r\nsecond,line\r\n";
    WriteClipboardText("old content");
    ASSERT_TRUE(PlaceTextOnClipboard(nullptr, text.c_str()));

    std::vector<UINT> formats;
    EXPECT_EQ(text, ReadClipboardText(&formats));
    // Only CF_TEXT is placed; the rest are the system's own conversions of it.
    for (UINT format : formats)
        EXPECT_TRUE(format == CF_TEXT || format == CF_OEMTEXT || format == CF_UNICODETEXT || format == CF_LOCALE)
            << "unexpected clipboard format " << format;
    EXPECT_NE(formats.end(), std::find(formats.begin(), formats.end(), static_cast<UINT>(CF_TEXT)));

    // The block holds the text and one NUL, nothing more.
    ASSERT_TRUE(OpenClipboard(nullptr));
    HANDLE hData = GetClipboardData(CF_TEXT);
    ASSERT_NE(nullptr, hData);
    const char* p = static_cast<const char*>(GlobalLock(hData));
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(std::string(text + '\0'), std::string(p, text.size() + 1));
    GlobalUnlock(hData);
    CloseClipboard();
}

TEST(ClipboardTest, AClipboardHeldElsewhereKeepsItsContent)
{
    WriteClipboardText("keep me");
    HANDLE hHeld = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE hRelease = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
        HWND hWnd = CreateWindowA("STATIC", "holder", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        const BOOL opened = OpenClipboard(hWnd);
        SetEvent(hHeld);
        WaitForSingleObject(hRelease, INFINITE);
        if (opened) CloseClipboard();
        DestroyWindow(hWnd);
    });
    WaitForSingleObject(hHeld, INFINITE);
    EXPECT_FALSE(PlaceTextOnClipboard(nullptr, "lost?"));
    SetEvent(hRelease);
    holder.join();
    CloseHandle(hHeld);
    CloseHandle(hRelease);
    EXPECT_EQ("keep me", ReadClipboardText());
}

TEST(OSProductTest, TheSystemsOwnWordsAsItsSettingsHoldThem)
{
    // Read here with another call, in the 64-bit view whichever build asks.
    const auto value = [](const char* pszName) {
        char szValue[256] = "";
        DWORD cb = sizeof szValue;
        HKEY hKey = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                          KEY_QUERY_VALUE | (IsSixtyFourBitSystem() ? KEY_WOW64_64KEY : 0), &hKey) != ERROR_SUCCESS)
            return std::string();
        const LONG n = RegGetValueA(hKey, nullptr, pszName, RRF_RT_REG_SZ, nullptr, szValue, &cb);
        RegCloseKey(hKey);
        return n == ERROR_SUCCESS ? std::string(szValue) : std::string();
    };
    const OSProduct product = GetOSProduct();
    ASSERT_FALSE(value("CurrentBuildNumber").empty());
    EXPECT_EQ(0u, product.strBuild.Str().find(value("CurrentBuildNumber"))) << product.strBuild.Str();
    EXPECT_FALSE(product.strProductName.IsEmpty());
    if (atoi(value("CurrentBuildNumber").c_str()) < 22000) {
        EXPECT_EQ(value("ProductName"), product.strProductName.Str());
    }
}
