#include "app/Startup.h"

#include "app/CommandLine.h"
#include "download/DownloadMgr.h"
#include "download/Globals.h"
#include "platform/Profile.h"

std::string InstallDirFromExePath(const std::string& strExePath)
{
    auto separator = strExePath.find_last_of('/');
    return separator == std::string::npos ? std::string("./") : strExePath.substr(0, separator + 1);
}

std::string BuildBaseURL(const std::string& strSite)
{
    bool hasScheme = strSite.starts_with("http://") || strSite.starts_with("https://");
    return (hasScheme ? strSite : "http://" + strSite) + "/update/";
}

std::string BuildTempDir(const std::string& strInstallDir, const std::string& strTempDirSetting)
{
    return strInstallDir + strTempDirSetting;
}

StartupValues LoadStartupValues(const std::string& strCmdLine, const std::string& strExePath)
{
    StartupValues values;
    values.strInstallDir = InstallDirFromExePath(strExePath);

    CommandLine commandLine = ParseCommandLine(strCmdLine, g_strDefaultManifest);
    g_strManifestName = commandLine.strManifestName;
    g_nLobbyParam1 = commandLine.nLobbyParam1;
    g_nLobbyParam2 = commandLine.nLobbyParam2;
    g_bManifestMode = commandLine.bManifestMode;

    std::string site = GetPrivateProfileString("Download", "site1", "", kSettingsFile);
    std::string tempDirSetting = GetPrivateProfileString("Setup", "TempDir", "", kSettingsFile);
    values.strBaseURL = BuildBaseURL(site);
    values.strTempDir = BuildTempDir(values.strInstallDir, tempDirSetting);
    return values;
}

void InitializeDownloads(const StartupValues& values, IDownloadSink* pSink, CDownloadMgr& downloadMgr)
{
    // A failure here shows later, as failing downloads.
    downloadMgr.Initialize(pSink, values.strBaseURL, values.strTempDir, values.strInstallDir);
}
