#pragma once
// The manifest step of a manifest update: fetches the XML manifest and compares every listed
// file with the installed copy by its MD5 digest. It says what it found — the files that are
// missing or differ, or why the manifest cannot be used — and leaves queueing them and telling
// the player to the run.

#include <cstdint>
#include <string>
#include <vector>

#include "check/InstalledFiles.h"

class CCheckCache;
class CInternetSession;
class CUpdateTrust;
struct RetryPolicy;

struct ManifestFindings {
    // In document order. An entry that cannot be used ends the list: the files before it stay.
    std::vector<ChangedFile> files;
    std::uint64_t nTotalSize = 0;  // of the files
    bool bFetch = false;           // the whole manifest was usable and lists files to fetch
    bool bUpToDate = false;        // the whole manifest was usable and nothing differs
    // Why the manifest cannot be used, for the player: a number shown as "Error line:%d" (0 for
    // none), or a sentence; the cause is in the log.
    int nErrorLine = 0;
    std::string strMessage;
    // The server did not serve a manifest that can be used (none, an error, a page that is no
    // manifest, a refused signature): another server may.
    bool bServerFailed = false;
};

// Fetches the manifest at strUrl (and with keys in pTrust, its signature, which must hold) over
// the run's session, or one of its own without, and compares its files with those under
// strInstallDir; with a check cache, a file unchanged since it was last read is not read again,
// and the cache is saved afterwards. With a retry policy, the manifest and its signature are asked
// for again after a passing failure, as a file would be.
ManifestFindings ParseManifest(const std::string& strInstallDir, const std::string& strUrl, CUpdateTrust* pTrust = nullptr,
                               CInternetSession* pSession = nullptr, CCheckCache* pCheckCache = nullptr,
                               const RetryPolicy* pRetries = nullptr);
// The same for a manifest text already fetched (no signature).
ManifestFindings ParseManifestText(const std::string& strInstallDir, const std::string& strText,
                                   CCheckCache* pCheckCache = nullptr);
