#pragma once
// The values an update run starts from, derived once at start-up from the lobby's command line,
// the settings file and the place of the executable.

#include <optional>
#include <string>
#include <vector>

#include "app/TestHooks.h"
#include "platform/Internet.h"
#include "policy/Policy.h"
#include "sentences/Sentences.h"

// The executable's directory, ending in a separator.
std::string InstallDirFromExePath(const std::string& strExePath);
// "http://" unless the server text already names its scheme, the server text, "/update/".
std::string BuildBaseURL(const std::string& strSite);
// The installation directory followed directly by the setting: nothing added, nothing removed.
std::string BuildTempDir(const std::string& strInstallDir, const std::string& strTempDirSetting);

struct StartupValues {
    std::string strCommandLine;   // as the lobby gave it
    std::string strManifestName;  // from the command line
    int nLobbyParam1 = -1;        // handed back to a lobby that asked for a named update
    int nLobbyParam2 = -1;
    bool bManifestMode = true;  // false: the command line asks for the package ("-install")
    std::string strInstallDir;  // the executable's directory, ending in a separator
    std::string strBaseURL;
    std::vector<std::string> mirrorBaseURLs;  // of site2, site3, ... in order
    std::string strTempDir;
    std::string strTempDirSetting;
    std::string strOldExeName;  // the name the running executable is set aside under
    bool bCheckCache = true;    // a file unchanged since the last check is not read again
    unsigned nConnections = kDefaultConnections;  // files downloaded at once
    bool bDigestQuery = true;  // a file is asked for with its digest as a query
    std::string strPublicKeySetting;   // [Security] PublicKey: the keys updates must be signed with
    // Told after a failed download: [messages] ErrorMsg, or a sentence naming [DownUrl] WebUrl.
    std::string strWhereToGetTheGame = sentence::UpdateFailedVisit(kDefaultWebUrl);
    TestHooks hooks;           // from the environment; none for a player
    // What every connection of the run is made with: the program's limits (the tests' when they
    // set theirs), the certificate authorities the curl tool would trust here (CURL_CA_BUNDLE or
    // SSL_CERT_FILE, and SSL_CERT_DIR; the system's when they are unset), and the proxy of the
    // system's settings (Windows' Internet settings) when no proxy variable of the environment
    // names one, as libcurl takes those itself.
    CInternetSession::Settings session;
};

// Parses the command line, reads the settings and derives the directories and the base URL.
// The tests' hooks come in from the program's main (see app/TestHooks.h).
StartupValues LoadStartupValues(const std::string& strCmdLine, const std::string& strExePath, const TestHooks& hooks = {});
// Why the temporary directory cannot be used (one sentence for the player; the cause goes to the
// log), or nothing: it must stay inside the installation and must not be a link to somewhere else.
std::optional<std::string> TempDirProblem(const StartupValues& values);
// Why a run cannot go on: a sentence for the player, and the cause for the log.
struct StartProblem {
    std::string strSentence;
    std::string strCause;
};
// Why the run cannot write what it must (a game on a read-only file system, or in a directory of
// another user's), naming the directory; nothing when it can. Makes the temporary directory when
// it is missing.
std::optional<StartProblem> WriteProblem(const StartupValues& values);
