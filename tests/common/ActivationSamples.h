#pragma once
// The sample classes that are registered soundly and create, or do not,
// installed under catalogue names in a System folder of their own and
// registered through their own self-registration; unregistered at the end,
// so the prefix is left as it was found. Their names come first in the
// catalogue's order, so that a /check line shows them before the absent rows.
#include "common/TestSupport.h"
#include "engine/components/SelfRegistration.h"
#include "engine/components/Sibling.h"
#include <gtest/gtest.h>

namespace activation_samples {
struct ActivationSample {
    const char* pszSample;
    const char* pszAs;
    const char* pszVerdict;   // how its verdict begins; null: its class creates
};
inline const ActivationSample SAMPLES[] = {
    {"KvActCreates.dll", "KfAutomate.dll", nullptr},
    {"KvActRefuses.dll", "KfBrowse.ocx", "Registered and present, but its class does not create: the class object: 0x80040111 "},
    {"KvActNoMemory.dll", "KfBuild.dll", "Registered and present, but its class does not create: CreateInstance: 0x8007000E "},
    {"KvActLocalSilent.exe", "KfBuildSrv.exe",
     "Registered and present, but its class does not create: starting the local server: stopped after 3 s at the time limit"},
    {"KvActFaults.dll", "KfCalendar.ocx", "Registered and present, but its class does not create: CreateInstance: access violation (0xC0000005) in "},
    {"KvActHangs.dll", "KfCaption.ocx", "Registered and present, but its class does not create: CreateInstance: stopped after 3 s at the time limit"},
    {"KvActNoTypeLib.dll", "KfChart.ocx",
     "Registered and present, but its class does not create: IDispatch and its type information: 0x8002801D "},
    {"KvActOther.dll", "KfColor.ocx", nullptr},
    {"KvActLocal.exe", "KvAgent.exe", nullptr},
};

// Nothing the checks started is left: no helper, no local server.
inline bool NothingLeftRunning()
{
    for (const char* pszName : {"ForgeSupport.exe", "ForgeSupport64.exe", "KfBuildSrv.exe", "KvAgent.exe"})
        if (CountProcesses(pszName) != 0) return false;
    return true;
}

class ActivationSamplesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (GetFileAttributesA(SiblingProgramPath()) == INVALID_FILE_ATTRIBUTES)
            GTEST_SKIP() << "no sibling beside the test program: build both (make both)";
        for (const ActivationSample& sample : SAMPLES) {
            const std::string path = m_dir.CopyIn(TestProgramFolder() + "\\" + sample.pszSample, std::string("System\\") + sample.pszAs);
            RegistrationResult result;
            RegisterServerFile(path.c_str(), true, &result);
            ASSERT_TRUE(SUCCEEDED(result.hr)) << sample.pszSample;
            m_registered.push_back(path);
        }
    }
    void TearDown() override
    {
        for (const std::string& path : m_registered) RegisterServerFile(path.c_str(), false);
    }
    std::string System() const { return m_dir / "System"; }

    CTempDir m_dir;
    CScopedRegValue m_noCommonFiles{HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "CommonFilesDir",
                                    m_dir / "Common"};
    std::vector<std::string> m_registered;
};
} // namespace activation_samples
