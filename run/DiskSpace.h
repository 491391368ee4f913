#pragma once
// Whether what a run will write fits where it goes, before a byte is fetched. The downloads go to
// the temporary directory; a file moved from there into an installation on another file system
// is copied, so it needs room there too; a package unpacks into the installation's file system,
// beside the package while it is there.

#include <cstdint>
#include <optional>
#include <string>

// Why the run does not fit (one sentence for the player; the figures also go to the log), or
// nothing. A directory whose space cannot be read is not held against the run.
std::optional<std::string> DiskSpaceProblem(const std::string& strTempDir, const std::string& strInstallDir, std::uint64_t nDownloadBytes,
                             bool bManifestMode, std::uint64_t nUnpackedBytes = 0);
