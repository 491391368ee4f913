#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "digest/Blake2b.h"
#include "release/ExpectedFile.h"
#include "sentences/Failure.h"

// A last check of a complete download, given its temporary path and its BLAKE2b-512 digest
// (taken while it arrived); returns why the file is refused (its sentence for the player, its
// cause, which the download writes to the log), or nothing when it is taken. The path is the
// file system's own.
using DownloadCheck = std::function<std::optional<Failure>(const std::string& strPath, const Blake2b512Digest& digest)>;

// One file to download. The name is a path relative to the installation directory, and to the
// base URL unless szUrlPath gives another; it is split at its last '\' or '/'.
struct tagDownloadTask {
    int nID = 0;               // 1 for the first task a manager queues, then 2, 3, ...
    bool bDownloaded = false;  // stored completely in the temporary directory
    std::string szName;        // the name exactly as queued
    std::string szDir;         // before the last separator; empty without one
    std::string szFile;        // after the last separator; the whole name without one
    std::string szTempName;    // its own temporary name, when the flattened one is another task's
    std::string szUrlPath;     // where it is asked for, when not at its name: a patch, or the name a
                               // manifest lists where Windows stores it otherwise
    bool bPatch = false;       // the patch a file is made from, not the file
    std::optional<tagExpectedFile> expected;  // from the manifest; a package has none
    DownloadCheck fnCheck;                    // the package's signature, when updates are signed
    std::optional<std::uint64_t> nLimit;      // the most bytes a file that nothing describes may have

    // The size the download must not pass: the described one, else the limit.
    std::optional<std::uint64_t> SizeLimit() const { return expected ? std::optional(expected->nSize) : nLimit; }
};
