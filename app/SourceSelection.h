#pragma once
// Where a run's files come from. In package mode the server is asked for the package (the
// manifest name with ".zip" for ".xml"); when it answers 404 or cannot be asked, the run falls
// back to the manifest, once. In manifest mode the manifest's changed files are queued. With
// mirrors, each server is asked in turn until one serves what can be used (a manifest, not an
// error or a page that is none; with keys, a signature that holds): the files then come from that
// one first. Each request is tried again after a passing failure before the next server is asked.
// Why a source cannot be used comes back as one sentence for the player; the particulars go to
// the log.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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
    CInternetSession* pSession = nullptr;   // the run's; without one each request opens its own
    std::string strCheckCache{};            // the check cache's path; empty: every file is read
    const RetryPolicy* pRetries = nullptr;  // how the manifest, signatures and probe are asked again; null: once
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
