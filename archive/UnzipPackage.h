#pragma once

#include <string>
#include <vector>

#include "archive/ZipResult.h"

// Unpacks every entry of the zip archive, in archive order, under strDestDir (the current
// directory when empty), which is created with its parents, each under its cleaned name as
// Windows stores it (WindowsStoredName: "readme." is placed as readme). arrNames receives that
// name of each processed entry, failed ones included. After a failed entry whose name exists relative
// to the current directory the next entry follows; after any other failure it stops there.
// Returns the last entry's result (Ok when there is nothing to unpack or no archive). Entries
// whose name would climb out of the destination or holds a control character, and entries below
// a directory that is a symbolic link, are refused (NoFile). A directory entry that names the
// destination itself ("./") is passed over, and its name is not received.
// pFirstFailure, when given, receives the first entry that failed, even one passed over.
struct tagUnzipFailure {
    std::string entry;
    ZipResult result = ZipResult::Ok;  // no entry failed
};
ZipResult UnzipPackage(const std::string& strZipFile, const std::string& strDestDir, std::vector<std::string>& arrNames,
                       tagUnzipFailure* pFirstFailure = nullptr);

// The same for a package FindUnpackableEntry (archive/PackageCheck.h) passed, into a directory
// of its own that nothing else writes to, on two threads: each takes the entries of half the
// directories, in the package's order. No entry lies below a link of the package, so neither
// thread's entries depend on the other's. An entry that names the file of an earlier one under
// another spelling (the same file, as the check let it pass) is passed over: Windows holds one
// file. arrNames receives every other entry's name as it is placed, in the package's order. Returns the first
// failed entry's result (in the package's order), which pFirstFailure receives; entries of the
// other half may have been unpacked after it, for the caller to remove with the directory.
ZipResult UnzipCheckedPackage(const std::string& strZipFile, const std::string& strDestDir,
                              std::vector<std::string>& arrNames, tagUnzipFailure* pFirstFailure = nullptr);
