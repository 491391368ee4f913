#pragma once
// The values an update run starts from, derived once at start-up from the lobby's command line,
// the settings file and the place of the executable.

#include <optional>
#include <string>
#include <vector>

#include "app/TestHooks.h"
#include "run/RunValues.h"

// The executable's directory, ending in a separator.
std::string InstallDirFromExePath(const std::string& strExePath);
// "http://" unless the server text already names its scheme, the server text, "/update/".
std::string BuildBaseURL(const std::string& strSite);
// The installation directory followed directly by the setting: nothing added, nothing removed.
std::string BuildTempDir(const std::string& strInstallDir, const std::string& strTempDirSetting);

struct StartupValues {
    // The run's own values. Of them, the session is made with the program's limits (the tests'
    // when they set theirs), the certificate authorities the curl tool would trust here
    // (CURL_CA_BUNDLE or SSL_CERT_FILE, and SSL_CERT_DIR; the system's when they are unset), and
    // the proxy of the system's settings (Windows' Internet settings) when no proxy variable of
    // the environment names one, as libcurl takes those itself.
    RunValues run;
    int nLobbyParam1 = -1;  // handed back to a lobby that asked for a named update
    int nLobbyParam2 = -1;
    std::string strOldExeName;  // the name the running executable is set aside under
    TestHooks hooks;            // from the environment; none for a player
};

// Parses the command line, reads the settings and derives the directories and the base URL.
// The tests' hooks come in from the program's main (see app/TestHooks.h).
StartupValues LoadStartupValues(const std::string& strCmdLine, const std::string& strExePath, const TestHooks& hooks = {});
