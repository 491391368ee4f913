#pragma once
// Where a run's files come from. In package mode the server is asked for the package (the
// manifest name with ".zip" for ".xml"); when it answers 404 or cannot be asked, the run falls
// back to the manifest, once. In manifest mode the manifest's changed files are queued. With
// mirrors, each server is asked in turn until one serves what can be used (a manifest, not an
// error or a page that is none; with keys, a signature that holds): the files then come from that
// one first. Each request is tried again after a passing failure before the next server is asked.
// Why a source cannot be used comes back as one sentence for the player; the particulars go to
// the log. The steps of a manifest: the signed document fetched (source/), its format read
// (manifest/), the installed files checked against it (check/), the files that differ queued.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "check/InstalledFiles.h"
#include "run/RunPhase.h"

class CCheckCache;
class CDownloadMgr;
class CInternetSession;
class CUpdateTrust;
struct RetryPolicy;

// What the choice of source works on.
struct UpdateSource {
    std::string strInstallDir;
    std::string strBaseURL;
    std::vector<std::string> mirrorBaseURLs = {};  // asked in order when the one before does not serve
    std::string strManifestName;
    bool bManifestMode = true;
    CUpdateTrust* pTrust = nullptr;         // with keys: the manifest and the package must be signed
    CInternetSession* pSession = nullptr;   // the run's; without one (none could be opened) each request fails
    std::string strCheckCache{};            // the check cache's path; empty: every file is read
    const RetryPolicy* pRetries = nullptr;  // how the manifest, signatures and probe are asked again; null: once
    // Set when the run is to end (its window closed): no further server is asked and the check of
    // the installed files stops; what was chosen is then the caller's to drop.
    const std::atomic<bool>* pStop = nullptr;
    // Told when a server's manifest proved usable and the installed files are read against it.
    RunPhases* pPhases = nullptr;
};

struct SourceChoice {
    bool bQueued = false;    // something was queued and the source was wholly usable
    bool bUpToDate = false;  // the whole manifest was read and nothing differs
    std::uint64_t nTotalSize = 0;   // what is fetched: the package's length, or the manifest's files (or patches)
    std::uint64_t nStoredSize = 0;  // what the downloads take in the temporary directory
    std::optional<std::uint64_t> nUnpackedSize{};  // what the package unpacks to, when its end told
    std::string strMessage;        // why the source cannot be used, for the player; empty otherwise
};

// Queues this run's downloads on the manager, and switches it to manifest mode on a fallback.
SourceChoice QueueUpdate(const UpdateSource& source, CDownloadMgr& downloadMgr);

// What one server's manifest says is to be done.
struct ManifestFindings {
    // In document order. An entry that cannot be used ends the list: the files before it stay.
    std::vector<ChangedFile> files;
    std::uint64_t nTotalSize = 0;  // of the files
    bool bFetch = false;           // the whole manifest was usable and lists files to fetch
    bool bUpToDate = false;        // the whole manifest was usable and nothing differs
    // Why the manifest cannot be used, for the player (a number shown as "Error line:%d", or a
    // sentence); the cause is in the log.
    std::string strMessage;
    // The server did not serve a manifest that can be used (none, an error, a page that is no
    // manifest, a refused signature): another server may.
    bool bServerFailed = false;
};

// Fetches the manifest at strUrl (and with keys in pTrust, its signature, which must hold) over
// the run's session, and compares its files with those under strInstallDir; with a check cache,
// a file unchanged since it was last read is not read again, and the cache is saved afterwards.
// With a retry policy, the manifest and its signature are asked for again after a passing
// failure, as a file would be.
// With a stop flag, the check ends early once it is set.
ManifestFindings FindManifestUpdate(const std::string& strInstallDir, const std::string& strUrl, CUpdateTrust* pTrust,
                                    CInternetSession* pSession, CCheckCache* pCheckCache = nullptr,
                                    const RetryPolicy* pRetries = nullptr, const std::atomic<bool>* pStop = nullptr);
