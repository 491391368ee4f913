#pragma once
// What an update run is given: where the game is and where its downloads wait, where the update
// comes from, and how the run fetches, checks and installs it. The app derives them once at
// start-up from the command line, the settings file and the place of the executable (and, in the
// tests' build, from the tests' hooks); the run knows nothing of where they came from.

#include <memory>
#include <string>
#include <vector>

#include "download/RetryPolicy.h"
#include "download/UpdateSession.h"
#include "install/InstallFiles.h"
#include "platform/Internet.h"
#include "policy/Policy.h"
#include "sentences/Sentences.h"

struct RunValues {
    std::string strCommandLine;   // as the lobby gave it, for the log
    std::string strManifestName;  // the manifest asked for
    bool bManifestMode = true;    // false: the package is asked for first
    std::string strInstallDir;    // the executable's directory, ending in a separator
    std::string strBaseURL;
    std::vector<std::string> mirrorBaseURLs;  // of site2, site3, ... in order
    std::string strTempDir;
    std::string strTempDirSetting;  // as the settings file gave it
    bool bCheckCache = true;        // a file unchanged since the last check is not read again
    unsigned nConnections = kDefaultConnections;  // files downloaded at once
    bool bDigestQuery = true;  // a file is asked for with its digest as a query
    std::string strPublicKeySetting;  // [Security] PublicKey: the keys updates must be signed with
    // Told after a failed download: [messages] ErrorMsg, or a sentence naming [DownUrl] WebUrl.
    std::string strWhereToGetTheGame = sentence::UpdateFailedVisit(kDefaultWebUrl);
    // What every connection of the run is made with (download/UpdateSession.h).
    CInternetSession::Settings session = UpdateSessionSettings();
    // How a failed request is tried again (download/RetryPolicy.h).
    RetryPolicy retries = UpdateRetries();
    // The installation's file operations; none: the system's own.
    std::shared_ptr<IInstallFiles> installFiles;
};
