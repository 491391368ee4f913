#include "app/Startup.h"

#include <algorithm>
#include <cstdlib>

#include "app/CommandLine.h"
#include "download/UpdateSession.h"
#include "install/Installer.h"
#include "platform/Path.h"
#include "platform/Profile.h"
#include "sentences/Sentences.h"

std::string InstallDirFromExePath(const std::string& strExePath)
{
    const std::string_view directory = SplitAtLastSeparator(strExePath).directory;
    return directory.empty() ? std::string("./") : std::string(directory);
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

namespace {

// libcurl leaves these variables to the program.
CInternetSession::Authorities AuthoritiesFromEnvironment()
{
    CInternetSession::Authorities authorities;
    for (const char* variable : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"})
        if (const char* file = std::getenv(variable); file && *file) {
            authorities.strFile = file;
            break;
        }
    if (const char* directory = std::getenv("SSL_CERT_DIR"); directory && *directory)
        authorities.strDirectory = directory;
    return authorities;
}

// Windows' own proxy setting counts only where the environment names none, as libcurl reads that.
std::optional<ProxySettings> ProxyOfTheSystem()
{
    for (const char* variable : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        if (const char* proxy = std::getenv(variable); proxy && *proxy)
            return std::nullopt;
    return GetSystemProxy();
}

}  // namespace

StartupValues LoadStartupValues(const std::string& strCmdLine, const std::string& strExePath, const TestHooks& hooks)
{
    StartupValues values;
    values.run.strInstallDir = InstallDirFromExePath(strExePath);

    CommandLine commandLine = ParseCommandLine(strCmdLine, kDefaultManifest);
    values.run.strCommandLine = strCmdLine;
    values.run.strManifestName = commandLine.strManifestName;
    values.nLobbyParam1 = commandLine.nLobbyParam1;
    values.nLobbyParam2 = commandLine.nLobbyParam2;
    values.run.bManifestMode = commandLine.bManifestMode == 1;
    values.strOldExeName = SetAsideExeName();

    std::string site = GetPrivateProfileString("Download", "site1", "", kSettingsFile);
    std::string tempDirSetting = GetPrivateProfileString("Setup", "TempDir", "", kSettingsFile);
    values.run.strBaseURL = BuildBaseURL(site);
    // Mirrors are numbered on from site2; the first number without a server ends the list.
    for (int n = 2;; ++n) {
        const std::string mirror = GetPrivateProfileString("Download", "site" + std::to_string(n), "", kSettingsFile);
        if (mirror.empty())
            break;
        values.run.mirrorBaseURLs.push_back(BuildBaseURL(mirror));
    }
    values.run.strTempDir = BuildTempDir(values.run.strInstallDir, tempDirSetting);
    values.run.strTempDirSetting = tempDirSetting;
    const int connections = ParseLeadingInt(
        GetPrivateProfileString("Download", "Connections", std::to_string(kDefaultConnections), kSettingsFile));
    values.run.nConnections = static_cast<unsigned>(std::clamp(connections, 1, static_cast<int>(kMostConnections)));
    values.run.bDigestQuery = ParseLeadingInt(GetPrivateProfileString("Download", "DigestQuery", "1", kSettingsFile)) != 0;
    values.run.bCheckCache = ParseLeadingInt(GetPrivateProfileString("Setup", "CheckCache", "1", kSettingsFile)) != 0;
    values.run.strPublicKeySetting = GetPrivateProfileString("Security", "PublicKey", "", kSettingsFile);
    const std::string webUrl = GetPrivateProfileString("DownUrl", "WebUrl", kDefaultWebUrl, kSettingsFile);
    values.run.strWhereToGetTheGame =
        GetPrivateProfileString("messages", "ErrorMsg", sentence::UpdateFailedVisit(webUrl), kSettingsFile);
    values.hooks = hooks;
    values.run.session = UpdateSessionSettings();
    values.run.session.limits = SessionLimitsFor(values.hooks);
    values.run.retries = RetriesFor(values.hooks);
    values.run.installFiles = InstallFilesFor(values.hooks);
    values.run.session.authorities = AuthoritiesFromEnvironment();
    values.run.session.proxy = ProxyOfTheSystem();
    return values;
}

