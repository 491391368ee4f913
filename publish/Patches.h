#pragma once
// Patches from the earlier versions of a file to the one being published, so that a player who
// has one of them downloads what changed instead of the whole file.
//
// The earlier versions are the files at the same relative path in earlier builds or published
// trees. One patch is made per distinct earlier version (by MD5); it is kept only when it is at
// most 80 % of the new file's size, since below that a patch saves little and costs the player
// the work of applying it. A patch is named by its content, patches/<sha256 of its bytes>.zst,
// so that a cache may keep it for ever: the same name never means other bytes.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "manifest/ManifestWriter.h"

using PublishedPatch = ListedPatch;

// Where the earlier versions of the build's files are, and what in those directories is the
// publisher's own output rather than a file of the build.
struct EarlierVersions {
    std::vector<std::filesystem::path> dirs;
    std::string manifestName;
};

// The patches from every earlier version of the file at `rel` (relative, with '/') to the
// current file, written into the tree's patches directory, sorted by `from`. The new file and each
// earlier one are mapped, each once. Throws std::runtime_error naming the file that could not be
// read, patched or written.
std::vector<PublishedPatch> WritePatches(const EarlierVersions& earlier, const std::string& rel,
                                         const std::filesystem::path& current, const std::filesystem::path& treeDir);
