#pragma once
// The values an update run derives at start-up from the command line, the settings file and the
// place of the executable, and the hand-over of them to the download manager.

#include <string>

class CDownloadMgr;
class IDownloadSink;

// The settings file: an INI file named like a library, relative to the current directory.
inline constexpr const char* kSettingsFile = ".\\pirvex.dll";

// The installation's record of the signatures it accepted, beside the executable.
inline constexpr const char* kTrustStateFile = "KesuUpdate.trust";

// The executable's directory, ending in a separator.
std::string InstallDirFromExePath(const std::string& strExePath);
// "http://" unless the server text already names its scheme, the server text, "/update/".
std::string BuildBaseURL(const std::string& strSite);
// The installation directory followed directly by the setting: nothing added, nothing removed.
std::string BuildTempDir(const std::string& strInstallDir, const std::string& strTempDirSetting);

struct StartupValues {
    std::string strInstallDir;
    std::string strBaseURL;
    std::string strTempDir;
    std::string strTempDirSetting;
};

// Parses the command line into the process-wide state, reads the settings and derives the
// directories and the base URL.
StartupValues LoadStartupValues(const std::string& strCmdLine, const std::string& strExePath);
// Why the temporary directory cannot be used (one sentence for the player), or an empty text:
// it must stay inside the installation and must not be a link to somewhere else.
std::string TempDirProblem(const StartupValues& values);
// Hands the values to the download manager.
void InitializeDownloads(const StartupValues& values, IDownloadSink* pSink, CDownloadMgr& downloadMgr);
