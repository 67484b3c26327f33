#pragma once
// A demo installation of the authoring tool under one root folder: the tool's
// System folder tree and a Common Files tree holding copies of the sample
// servers under catalogue names, a chosen part of them registered through
// their own self-registration, the sample automation server, the sample
// projects, and the registry values that point the utility at all of it.
// Plain Win32 and the standard library: no dependency on the utility.
#include <windows.h>
#include <string>
#include <vector>

struct DemoPlacement;

// What the COM tester shows for one catalogue row once both verifications
// have run on the demo installation.
struct DemoRowExpectation {
    std::string strFileName;
    bool bRegistered;   // the Registered column says "Yes"
    bool bOnSystem;     // the On System column says "Yes"
};

class CDemoInstallation {
public:
    // 'strRoot' is where everything goes; 'strSamplesFolder' holds the built
    // ForgeSampleServer.dll, SampleMissingDep.dll, LocalSrv.exe,
    // TorvexAppServices.dll and the sample projects in its "projects" subfolder.
    CDemoInstallation(const std::string& strRoot, const std::string& strSamplesFolder);

    // Creates or completes the installation; preparing again rewrites the
    // same files and values and adds nothing. False, with a reason, on the
    // first step that fails.
    bool Prepare(std::string& strError);
    // Unregisters every server the installation registered, puts back the
    // registry values it replaced and deletes its folders. False, with a
    // reason, when something could not be undone; the rest is still undone.
    bool Remove(std::string& strError);

    std::string InstallFolder() const;       // <root>\Kelvara\Forge 8.0
    std::string SystemFolder() const;        // <root>\Kelvara\Forge 8.0\System
    std::string CommonFilesFolder() const;   // <root>\Common Files
    std::string ProjectsFolder() const;      // <root>\Kelvara\Forge 8.0\Projects

    // The rows whose results the installation decides: every catalogue row
    // except those of the Windows system directory, in catalogue order.
    static std::vector<DemoRowExpectation> ExpectedResults();

private:
    // The folder that receives a row's file; empty for a row left out.
    std::string FolderOf(const DemoPlacement& placement) const;
    bool SaveRegistryState(std::string& strError) const;
    bool RestoreRegistryState(std::string& strError) const;
    std::string StateFile() const;

    std::string m_strRoot;
    std::string m_strSamples;
};
