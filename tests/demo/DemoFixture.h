#pragma once
// A demo installation prepared for each test under a scratch root and removed
// after it, with the registry values it points at guarded besides.
#include "common/TestSupport.h"
#include "DemoInstallation.h"
#include "res/resource.h"
#include <gtest/gtest.h>
#include <ole2.h>

class DemoFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(m_demo.Prepare(error)) << error;
    }
    void TearDown() override
    {
        // The sheet's project test may leave the automation server loaded.
        CoFreeUnusedLibrariesEx(0, 0);
        std::string error;
        EXPECT_TRUE(m_demo.Remove(error)) << error;
    }

    // Whatever the installation does to these values, the guards put back
    // what was there, even when the removal under test fails. What they
    // write meanwhile is replaced by the installation at once.
    // Both Verify buttons of the COM tester, then its copy: the clipboard's text.
    static std::optional<std::string> CopyVerifiedComResults()
    {
        std::optional<std::string> copied;
        RunSheet([&](HWND hSheet) {
            HWND hPage = SelectPage(hSheet, 1);
            ClickButton(hPage, IDC_VERIFY_COM);
            ClickButton(hPage, IDC_VERIFY_FILES);
            ClickButton(hPage, IDC_COPY_COM_RESULTS);
            copied = ReadClipboardText();
        });
        return copied;
    }

    CScopedRegValue m_installGuard{HKEY_LOCAL_MACHINE, "SOFTWARE\\Kelvara\\Forge\\8.0", "Install Location",
                                   std::string("C:\\")};
    CScopedRegValue m_projectsGuard{HKEY_CURRENT_USER, "SOFTWARE\\Kelvara\\Forge\\8.0\\Project Settings",
                                    "Project Location", std::string("C:\\")};
    CScopedRegValue m_commonGuard{HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir",
                                  std::string("C:\\Program Files\\Common Files")};
    CTempDir m_root;
    CDemoInstallation m_demo{m_root / "Demo", TestProgramFolder()};
};
