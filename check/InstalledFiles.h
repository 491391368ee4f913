#pragma once
// Which of a manifest's files are to be fetched: each listed file is compared with its installed
// copy by MD5 digest (see LocalCheck.h), and a file that differs gets the mode and the patch its
// entry gives. The list stops at an installed copy that cannot be read, or at the entry that
// ended the manifest's list; the files before it stay, and the player is told which.
//
// Threads: the copies are read on several threads at once (LocalCheck.h); the call returns when
// all are read. Errors: a stop comes back as a sentence for the player, its cause goes to the log.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "manifest/ManifestReader.h"
#include "release/ExpectedFile.h"

class CCheckCache;

// A file the manifest lists that must be downloaded.
struct ChangedFile {
    std::string strName;        // where it is installed (see ManifestEntry)
    std::string strListedName;  // where the server holds it
    tagExpectedFile expected;
};

struct InstalledFilesCheck {
    std::vector<ChangedFile> files;  // in document order
    std::uint64_t nTotalSize = 0;    // what is fetched: a file's patch when there is one
    bool bStopped = false;           // the list stopped before its end
    std::string strMessage;          // why, for the player
};

// Compares the listing's entries (of a text that is a manifest) with the copies under
// strInstallDir, which ends in a separator; strWhere names the manifest in the log. With a check
// cache, a file unchanged since it was last read is not read again, and the cache is saved after.
// With a stop flag, no file is read once it is set, and the check counts as stopped.
InstalledFilesCheck CheckInstalledFiles(const std::string& strInstallDir, const std::string& strWhere,
                                        ManifestListing& listing, CCheckCache* pCache,
                                        const std::atomic<bool>* pStop = nullptr);
