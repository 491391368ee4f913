#pragma once

#include <string>
#include <vector>

// Unpacks every entry of the zip archive, in archive order, under strDestDir (the current
// directory when empty), which is created with its parents. arrNames receives each processed
// entry's cleaned name, failed ones included. After a failed entry whose name exists relative
// to the current directory the next entry follows; after any other failure it stops there.
// Returns the last entry's result code (0 when there is nothing to unpack or no archive).
// Entries whose name would climb out of the destination are refused (ZR_NOFILE).
int UnzipPackage(const std::string& strZipFile, const std::string& strDestDir, std::vector<std::string>& arrNames);
