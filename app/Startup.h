#pragma once
// The values an update run derives at start-up from the command line, the settings file and the
// place of the executable, and the hand-over of them to the download manager.

#include <string>

class CDownloadMgr;
class IDownloadSink;

// The settings file: an INI file named like a library, relative to the current directory.
inline constexpr const char* kSettingsFile = ".\\pirvex.dll";

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
};

// Parses the command line into the process-wide state, reads the settings and derives the
// directories and the base URL.
StartupValues LoadStartupValues(const std::string& strCmdLine, const std::string& strExePath);
// Hands the values to the download manager.
void InitializeDownloads(const StartupValues& values, IDownloadSink* pSink, CDownloadMgr& downloadMgr);
