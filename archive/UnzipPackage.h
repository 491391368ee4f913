#pragma once

#include <string>
#include <vector>

// Unpacks every entry of the zip archive, in archive order, under strDestDir (the current
// directory when empty), which is created with its parents. arrNames receives each processed
// entry's cleaned name, failed ones included. After a failed entry whose name exists relative
// to the current directory the next entry follows; after any other failure it stops there.
// Returns the last entry's result code (0 when there is nothing to unpack or no archive).
// Entries whose name would climb out of the destination or holds a control character, and
// entries below a directory that is a symbolic link, are refused (ZR_NOFILE). A directory entry
// that names the destination itself ("./") is passed over, and its name is not received.
// pFirstFailure, when given, receives the first entry that failed, even one passed over.
struct tagUnzipFailure {
    std::string entry;
    int result = 0;  // ZR_OK: no entry failed
};
int UnzipPackage(const std::string& strZipFile, const std::string& strDestDir, std::vector<std::string>& arrNames,
                 tagUnzipFailure* pFirstFailure = nullptr);
