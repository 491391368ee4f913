#include "app/Startup.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/CommandLine.h"
#include "download/UpdateSession.h"
#include "install/Installer.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/Path.h"
#include "platform/Profile.h"
#include "sentences/Sentences.h"

namespace fs = std::filesystem;

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
    values.strInstallDir = InstallDirFromExePath(strExePath);

    CommandLine commandLine = ParseCommandLine(strCmdLine, kDefaultManifest);
    values.strCommandLine = strCmdLine;
    values.strManifestName = commandLine.strManifestName;
    values.nLobbyParam1 = commandLine.nLobbyParam1;
    values.nLobbyParam2 = commandLine.nLobbyParam2;
    values.bManifestMode = commandLine.bManifestMode == 1;
    values.strOldExeName = SetAsideExeName();

    std::string site = GetPrivateProfileString("Download", "site1", "", kSettingsFile);
    std::string tempDirSetting = GetPrivateProfileString("Setup", "TempDir", "", kSettingsFile);
    values.strBaseURL = BuildBaseURL(site);
    // Mirrors are numbered on from site2; the first number without a server ends the list.
    for (int n = 2;; ++n) {
        const std::string mirror = GetPrivateProfileString("Download", "site" + std::to_string(n), "", kSettingsFile);
        if (mirror.empty())
            break;
        values.mirrorBaseURLs.push_back(BuildBaseURL(mirror));
    }
    values.strTempDir = BuildTempDir(values.strInstallDir, tempDirSetting);
    values.strTempDirSetting = tempDirSetting;
    const int connections = ParseLeadingInt(
        GetPrivateProfileString("Download", "Connections", std::to_string(kDefaultConnections), kSettingsFile));
    values.nConnections = static_cast<unsigned>(std::clamp(connections, 1, static_cast<int>(kMostConnections)));
    values.bDigestQuery = ParseLeadingInt(GetPrivateProfileString("Download", "DigestQuery", "1", kSettingsFile)) != 0;
    values.bCheckCache = ParseLeadingInt(GetPrivateProfileString("Setup", "CheckCache", "1", kSettingsFile)) != 0;
    values.strPublicKeySetting = GetPrivateProfileString("Security", "PublicKey", "", kSettingsFile);
    const std::string webUrl = GetPrivateProfileString("DownUrl", "WebUrl", kDefaultWebUrl, kSettingsFile);
    values.strWhereToGetTheGame =
        GetPrivateProfileString("messages", "ErrorMsg", sentence::UpdateFailedVisit(webUrl), kSettingsFile);
    values.hooks = hooks;
    values.session = UpdateSessionSettings();
    values.session.limits = SessionLimitsFor(values.hooks);
    values.session.authorities = AuthoritiesFromEnvironment();
    values.session.proxy = ProxyOfTheSystem();
    return values;
}

std::optional<std::string> TempDirProblem(const StartupValues& values)
{
    // The setting is joined to the installation directory as it stands, so leading separators
    // keep it inside; a ".." component would lead out, and so would a link on the way.
    const std::string setting = values.strTempDirSetting;
    const std::string relative = setting.substr(std::min(setting.size(), setting.find_first_not_of("\\/")));
    const auto withoutTrailingSeparators = [](std::string path) {
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        return path;
    };
    const std::string directory = withoutTrailingSeparators(ToNativePath(values.strTempDir));
    if (PathIsSymbolicLink(directory)) {
        LogLine("the temporary directory " + directory + " is a symbolic link; downloads are staged only inside the installation");
        return sentence::TempDirIsALink(setting);
    }
    std::error_code error;
    const fs::path install = fs::weakly_canonical(PathFromUtf8(withoutTrailingSeparators(ToNativePath(values.strInstallDir))), error);
    const fs::path temp = fs::weakly_canonical(PathFromUtf8(directory), error);
    auto [end, unused] = std::mismatch(install.begin(), install.end(), temp.begin(), temp.end());
    if ((!relative.empty() && !IsContainedRelativePath(relative)) || error || end != install.end()) {
        LogLine("the temporary directory " + directory + " (TempDir \"" + setting + "\") leads out of the installation directory " +
                values.strInstallDir);
        return sentence::TempDirOutsideInstallation(setting);
    }
    return std::nullopt;
}

std::optional<StartProblem> WriteProblem(const StartupValues& values)
{
    // The temporary directory is made here, so that a directory that cannot be made is said as
    // what it is rather than as the first download that fails in it.
    for (const std::string& directory : {values.strInstallDir, values.strTempDir}) {
        CreateDirectoryWithParents(directory);
        if (std::optional<int> error = DirectoryWriteError(directory)) {
            const std::string native = ToNativePath(directory);
            return StartProblem{sentence::CannotWrite(native),
                                "cannot write in " + native + ": " + std::strerror(*error) + " (errno " +
                                    std::to_string(*error) + ")"};
        }
    }
    return std::nullopt;
}
