#pragma once
// The sample servers that misbehave in the process running their
// registration, and how to read which helper process ran each, for the
// tests of every route (the sheet, the engine, /repair).
#include "common/TestSupport.h"
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace host_samples {
enum class Outcome { Registers, EndsHelper, FaultsOrEndsHelper, NeverEnds };

// Each sample, under the catalogue names it is installed as: for this
// build's bitness, and for the other.
struct HostSample {
    const char* pszName;
    Outcome nOutcome;
    const char* pszOwnAs;
    const char* pszOtherAs;
};
inline const HostSample SAMPLES[] = {
    {"Com", Outcome::Registers, "KfCore.dll", "KfComponent.dll"},
    {"Braces", Outcome::Registers, "KfBuild.dll", "KfRegistry.dll"},
    {"Exit", Outcome::EndsHelper, "KfMedia.dll", "KfShortcut.dll"},
    {"WndFault", Outcome::FaultsOrEndsHelper, "KfScript.dll", "KfDialogs.dll"},
    {"Hang", Outcome::NeverEnds, "KfDebug.dll", "KfStrings.dll"},
    {"Spew", Outcome::NeverEnds, "KfProject.dll", "KfRelease.dll"},
};

// SampleHostCom.dll for this build's bitness, SampleOtherCom.dll for the other.
inline std::string SampleFile(const HostSample& sample, bool bOther)
{
    return std::string(bOther ? "SampleOther" : "SampleHost") + sample.pszName + ".dll";
}

inline bool NoHelperLeft()
{
    return CountProcesses("ForgeSupport.exe") == 0 && CountProcesses("ForgeSupport64.exe") == 0;
}

// What each installed file does, and whether it is of the other bitness.
struct Ran {
    Outcome nOutcome;
    bool bOther;
};

// The helper each server ran in, from the notes the samples leave beside
// themselves ("<file> <process id>") in the order they ran: a server runs in
// the helper its predecessor of the same bitness ran in, unless that one
// ended it, and then in a new one. Gives the number of helpers seen.
inline size_t ExpectHelpersKeptAndReplaced(const std::string& notesFile, const std::map<std::string, Ran>& servers)
{
    std::istringstream notes(ReadFileText(notesFile));
    std::string file;
    DWORD dwPid = 0;
    std::map<bool, std::pair<Outcome, DWORD>> previous;   // per bitness
    std::set<DWORD> helpers;
    while (notes >> file >> dwPid) {
        const Ran ran = servers.count(file) ? servers.at(file) : Ran{Outcome::Registers, false};
        const auto it = previous.find(ran.bOther);
        if (it != previous.end()) {
            const Outcome nBefore = it->second.first;
            if (nBefore == Outcome::Registers) {
                EXPECT_EQ(it->second.second, dwPid) << file << ": a new helper";
            } else if (nBefore != Outcome::FaultsOrEndsHelper) {
                EXPECT_NE(it->second.second, dwPid) << file << ": a helper that ended served again";
            }
        }
        previous[ran.bOther] = {ran.nOutcome, dwPid};
        helpers.insert(dwPid);
    }
    EXPECT_FALSE(helpers.empty()) << notesFile;
    return helpers.size();
}
} // namespace host_samples
