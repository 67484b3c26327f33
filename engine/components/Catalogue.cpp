#include "engine/components/Catalogue.h"
#include <windows.h>

const CatalogueEntry g_catalogue[] = {
    // The tool's own in-process servers.
    {"PatchWiz.dll",      "",                                KIND_TOOL_SYSTEM},
    {"KfCore.dll",        "ForgeCore.Engine.1",              KIND_TOOL_SYSTEM},
    {"KfBuild.dll",       "ForgeBuild.Builder.1",            KIND_TOOL_SYSTEM},
    {"KfMedia.dll",       "ForgeMedia.Layout.1",             KIND_TOOL_SYSTEM},
    {"KfScript.dll",      "ForgeScript.Compiler.1",          KIND_TOOL_SYSTEM},
    {"KfDebug.dll",       "ForgeScript.Debugger.1",          KIND_TOOL_SYSTEM},
    {"KfProject.dll",     "ForgeProject.Document.1",         KIND_TOOL_SYSTEM},
    {"KfFeature.dll",     "ForgeProject.Feature",            KIND_TOOL_SYSTEM},
    {"KfComponent.dll",   "ForgeProject.Component",          KIND_TOOL_SYSTEM},
    {"KfRegistry.dll",    "ForgeTools.RegistryEditor.1",     KIND_TOOL_SYSTEM},
    {"KfShortcut.dll",    "ForgeTools.Shortcuts.1",          KIND_TOOL_SYSTEM},
    {"KfDialogs.dll",     "ForgeUI.DialogEditor.1",          KIND_TOOL_SYSTEM},
    {"KfStrings.dll",     "ForgeUI.StringTable.1",           KIND_TOOL_SYSTEM},
    {"KfRelease.dll",     "ForgeBuild.Release.1",            KIND_TOOL_SYSTEM},
    {"KfValidate.dll",    "ForgeBuild.Validator.1",          KIND_TOOL_SYSTEM},
    {"KfUpgrade.dll",     "ForgeBuild.Upgrade.1",            KIND_TOOL_SYSTEM},
    {"KfPackage.dll",     "ForgeBuild.Packager.1",           KIND_TOOL_SYSTEM},
    {"KfCompress.dll",    "ForgeBuild.Compressor.1",         KIND_TOOL_SYSTEM},
    {"KfSign.dll",        "ForgeBuild.Signer.1",             KIND_TOOL_SYSTEM},
    {"KfWeb.dll",         "ForgeMedia.WebDeploy.1",          KIND_TOOL_SYSTEM},
    {"KfTransform.dll",   "ForgeProject.Transform.1",        KIND_TOOL_SYSTEM},
    {"KfMerge.dll",       "ForgeProject.MergeTool.1",        KIND_TOOL_SYSTEM},
    {"KfDepend.dll",      "ForgeTools.DependencyScanner.1",  KIND_TOOL_SYSTEM},
    {"KfFileLink.dll",    "ForgeTools.FileLinker.1",         KIND_TOOL_SYSTEM},
    {"KfIniFile.dll",     "ForgeTools.IniEditor.1",          KIND_TOOL_SYSTEM},
    {"KfEnvVars.dll",     "ForgeTools.Environment.1",        KIND_TOOL_SYSTEM},
    {"KfServices.dll",    "ForgeTools.ServiceConfig.1",      KIND_TOOL_SYSTEM},
    {"KfOdbc.dll",        "ForgeTools.OdbcConfig.1",         KIND_TOOL_SYSTEM},
    {"KfIis.dll",         "ForgeTools.WebSites.1",           KIND_TOOL_SYSTEM},
    {"KfSql.dll",         "ForgeTools.SqlScripts.1",         KIND_TOOL_SYSTEM},
    {"KfXmlFile.dll",     "ForgeTools.XmlEditor.1",          KIND_TOOL_SYSTEM},
    {"KfTextSub.dll",     "ForgeTools.TextReplace.1",        KIND_TOOL_SYSTEM},
    {"KfPrereq.dll",      "ForgeBuild.Prerequisites.1",      KIND_TOOL_SYSTEM},
    {"KfLaunch.dll",      "ForgeBuild.LaunchConditions.1",   KIND_TOOL_SYSTEM},
    {"KfCustAct.dll",     "ForgeScript.CustomActions.1",     KIND_TOOL_SYSTEM},
    {"KfSequence.dll",    "ForgeScript.Sequencer.1",         KIND_TOOL_SYSTEM},
    {"KfLang.dll",        "ForgeUI.Languages.1",             KIND_TOOL_SYSTEM},
    {"KfTheme.dll",       "ForgeUI.Themes.1",                KIND_TOOL_SYSTEM},
    {"KfWizard.dll",      "ForgeUI.ProjectWizard.1",         KIND_TOOL_SYSTEM},
    {"KfImport.dll",      "ForgeProject.Importer.1",         KIND_TOOL_SYSTEM},
    {"KfExport.dll",      "ForgeProject.Exporter.1",         KIND_TOOL_SYSTEM},
    {"KfReport.dll",      "ForgeTools.Reports.1",            KIND_TOOL_SYSTEM},
    {"KfSearch.dll",      "ForgeTools.Search.1",             KIND_TOOL_SYSTEM},
    {"KfHelpLink.dll",    "ForgeUI.HelpLinks.1",             KIND_TOOL_SYSTEM},
    {"KfLicense.dll",     "ForgeCore.Licensing.1",           KIND_TOOL_SYSTEM},
    {"KfUpdate.dll",      "ForgeCore.UpdateService.1",       KIND_TOOL_SYSTEM},
    {"KfAutomate.dll",    "ForgeCore.Automation.1",          KIND_TOOL_SYSTEM},
    {"KfSettings.dll",    "ForgeCore.Settings.1",            KIND_TOOL_SYSTEM},
    {"KfTrace.dll",       "",                                KIND_TOOL_SYSTEM},
    {"KfResUtil.dll",     "",                                KIND_TOOL_SYSTEM},
    {"KfPathVar.dll",     "ForgeProject.PathVariables.1",    KIND_TOOL_SYSTEM},
    {"KfDbView.dll",      "ForgeTools.TableViewer.1",        KIND_TOOL_SYSTEM},
    {"KfCabinet.dll",     "",                                KIND_TOOL_SYSTEM},
    // The tool's ActiveX controls.
    {"KfGrid.ocx",        "ForgeUI.Grid.1",                  KIND_TOOL_SYSTEM},
    {"KfTree.ocx",        "ForgeUI.TreeView.1",              KIND_TOOL_SYSTEM},
    {"KfTabs.ocx",        "ForgeUI.Tabs.1",                  KIND_TOOL_SYSTEM},
    {"KfToolbar.ocx",     "ForgeUI.Toolbar.1",               KIND_TOOL_SYSTEM},
    {"KfEditor.ocx",      "ForgeUI.CodeEditor.1",            KIND_TOOL_SYSTEM},
    {"KfProps.ocx",       "ForgeUI.PropertyList.1",          KIND_TOOL_SYSTEM},
    {"KfPreview.ocx",     "ForgeUI.DialogPreview.1",         KIND_TOOL_SYSTEM},
    {"KfBrowse.ocx",      "ForgeUI.FolderBrowser.1",         KIND_TOOL_SYSTEM},
    {"KfSplit.ocx",       "ForgeUI.Splitter.1",              KIND_TOOL_SYSTEM},
    {"KfStatus.ocx",      "ForgeUI.StatusBar.1",             KIND_TOOL_SYSTEM},
    {"KfCombo.ocx",       "ForgeUI.ComboList.1",             KIND_TOOL_SYSTEM},
    {"KfImage.ocx",       "ForgeUI.ImageViewer.1",           KIND_TOOL_SYSTEM},
    {"KfChart.ocx",       "ForgeUI.Chart.1",                 KIND_TOOL_SYSTEM},
    {"KfColor.ocx",       "ForgeUI.ColorPicker.1",           KIND_TOOL_SYSTEM},
    {"KfOutput.ocx",      "ForgeUI.OutputWindow.1",          KIND_TOOL_SYSTEM},
    {"KfCalendar.ocx",    "ForgeUI.Calendar.1",              KIND_TOOL_SYSTEM},
    {"KfHexView.ocx",     "ForgeUI.HexViewer.1",             KIND_TOOL_SYSTEM},
    {"KfDiff.ocx",        "ForgeUI.DiffViewer.1",            KIND_TOOL_SYSTEM},
    {"KfCaption.ocx",     "ForgeUI.Caption.1",               KIND_TOOL_SYSTEM},
    {"KfProgress.ocx",    "ForgeUI.Progress.1",              KIND_TOOL_SYSTEM},
    // The tool's build server, an out-of-process server.
    {"KfBuildSrv.exe",    "ForgeBuild.Server.1",             KIND_TOOL_SYSTEM},
    // A system component.
    {"scrrun.dll",        "Scripting.FileSystemObject",      KIND_WINDOWS_SYSTEM},
    // Shared components installed under Common Files.
    {"mergemod.dll",      "MSM.Merge.1",                     KIND_COMMON_FILES},
    {"KvShared.dll",      "Kelvara.Shared.1",                KIND_COMMON_FILES},
    {"KvLog.dll",         "Kelvara.Log.1",                   KIND_COMMON_FILES},
    {"KvZip.dll",         "Kelvara.Zip.1",                   KIND_COMMON_FILES},
    {"KvXml.dll",         "Kelvara.Xml.1",                   KIND_COMMON_FILES},
    {"KvNet.dll",         "Kelvara.Net.1",                   KIND_COMMON_FILES},
    {"KvCrypt.dll",       "Kelvara.Crypto.1",                KIND_COMMON_FILES},
    {"KvFileIO.dll",      "Kelvara.FileIO.1",                KIND_COMMON_FILES},
    {"KvRegIO.dll",       "Kelvara.RegistryIO.1",            KIND_COMMON_FILES},
    {"KvVersion.dll",     "Kelvara.VersionInfo.1",           KIND_COMMON_FILES},
    {"KvMsgBox.dll",      "Kelvara.Messages.1",              KIND_COMMON_FILES},
    {"KvScripting.dll",   "Kelvara.ScriptHost.1",            KIND_COMMON_FILES},
    {"KvResource.dll",    "",                                KIND_COMMON_FILES},
    {"KvLocale.dll",      "",                                KIND_COMMON_FILES},
    {"KvDataSrc.dll",     "Kelvara.DataSource.1",            KIND_COMMON_FILES},
    {"KvButton.ocx",      "Kelvara.Button.1",                KIND_COMMON_FILES},
    {"KvList.ocx",        "Kelvara.ListBox.1",               KIND_COMMON_FILES},
    {"KvEdit.ocx",        "Kelvara.EditBox.1",               KIND_COMMON_FILES},
    {"KvLabel.ocx",       "Kelvara.Label.1",                 KIND_COMMON_FILES},
    {"KvAgent.exe",       "Kelvara.Agent.1",                 KIND_COMMON_FILES},
};

const int g_nCatalogueEntries = static_cast<int>(sizeof g_catalogue / sizeof g_catalogue[0]);

namespace {
// The catalogue's names are ASCII, so a name matches when it is the same
// ASCII text in any letter case; lstrcmpiA would compare linguistically, in
// the locale's code page rather than the active one.
bool SameAsciiNameNoCase(const char* pszA, const char* pszB)
{
    for (;; ++pszA, ++pszB) {
        const auto a = static_cast<unsigned char>(*pszA), b = static_cast<unsigned char>(*pszB);
        if (a >= 0x80 || b >= 0x80) return false;
        if ((a >= 'A' && a <= 'Z' ? a | 0x20 : a) != (b >= 'A' && b <= 'Z' ? b | 0x20 : b)) return false;
        if (a == 0) return true;
    }
}
}

const CatalogueEntry* FindCatalogueEntry(const char* pszFileName)
{
    if (!pszFileName) return nullptr;
    for (const CatalogueEntry& entry : g_catalogue)
        if (SameAsciiNameNoCase(entry.pszFileName, pszFileName)) return &entry;
    return nullptr;
}
