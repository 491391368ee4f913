#pragma once
// Where an installation's files wait, ready, until the journal's renames put them in place. A
// rename is atomic only within one file system, so the staging directory lies on the
// installation's: in the temporary directory when that is on the installation's file system
// (the downloads then wait where they were stored), else in the installation itself, where the
// downloads are copied first. Either way it is named .KesuUpdate.staging; it also holds the
// package's unpacked tree and, during the moves, the files they replace.

#include <string>

#include "policy/Policy.h"

struct StagingPlace {
    std::string directory;
    bool bCopyDownloads = false;  // the temporary directory lies on another file system
};

StagingPlace ChooseStaging(const std::string& tempDir, const std::string& installDir);

// Makes the staging directory anew and empty; false with errno set when it cannot be made.
bool PrepareStaging(const std::string& directory);
// Removes the staging directory with everything in it; what cannot be removed is said in the log.
void RemoveStaging(const std::string& directory);
// What a run killed before its journal was written leaves: either staging directory and the
// temporary files of writes cut short (".<pid>-<n>.part") in the temporary directory.
void RemoveStaleLeftovers(const std::string& tempDir, const std::string& installDir);

// Makes the directory and any missing parent; 0 when it is there, else why not (ENOTDIR when a
// file stands where a directory must be).
int EnsureDirectory(const std::string& path);
