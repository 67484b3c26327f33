#include "engine/components/ToolLocations.h"
#include "system/Registry.h"

namespace {
const char INSTALL_KEY[] = "SOFTWARE\\Kelvara\\Forge\\8.0";
const char PROJECT_SETTINGS_KEY[] = "SOFTWARE\\Kelvara\\Forge\\8.0\\Project Settings";
const char PROJECT_LOCATION_VALUE[] = "Project Location";
const char CURRENT_VERSION_KEY[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
}

CString SystemFolderFromInstallLocation(const CString& strInstallLocation)
{
    CString strFolder = strInstallLocation;
    if (!strFolder.IsEmpty() && !strFolder.EndsWith('\\')) strFolder += '\\';
    strFolder += "System";
    return strFolder;
}

CString ToolSystemFolder()
{
    return SystemFolderFromInstallLocation(ReadRegString(HKEY_LOCAL_MACHINE, INSTALL_KEY, "Install Location"));
}

CString CommonFilesFolder()
{
    return ReadRegString(HKEY_LOCAL_MACHINE, CURRENT_VERSION_KEY, "CommonFilesDir");
}

VerificationFolders MachineFolders(const CString& strSystemFolder)
{
    return VerificationFolders{strSystemFolder, CommonFilesFolder()};
}

CString ProjectLocation()
{
    const CString strUser = ReadRegString(HKEY_CURRENT_USER, PROJECT_SETTINGS_KEY, PROJECT_LOCATION_VALUE);
    return strUser.IsEmpty() ? ReadRegString(HKEY_LOCAL_MACHINE, PROJECT_SETTINGS_KEY, PROJECT_LOCATION_VALUE) : strUser;
}
