#pragma once
// Patches from the earlier versions of a file to the one being published, so that a player who
// has one of them downloads what changed instead of the whole file.
//
// The earlier versions are the files at the same relative path in earlier builds or published
// trees. One patch is made per distinct earlier version (by MD5); it is kept only when it is at
// most 80 % of the new file's size, since below that a patch saves little and costs the player
// the work of applying it. A patch is named by its content, patches/<sha256 of its bytes>.zst,
// so that a cache may keep it for ever: the same name never means other bytes.
//
// A patch is written as zstd makes it, into a temporary file in the patches directory, digested
// on the way, then renamed to its name; once it grows beyond 80 % it is dropped unfinished. A
// patch of a big file is made alone (zstd's workers take every core), while the publisher's
// other threads copy files. Each pair of versions and what came of it go into the tree's record
// (PatchRecord.h), which the next run trusts instead of making the patch again.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "delta/MakePatch.h"
#include "manifest/ManifestWriter.h"
#include "publish/PatchRecord.h"

using PublishedPatch = ListedPatch;

// Where the earlier versions of the build's files are, what in those directories is the
// publisher's own output rather than a file of the build, and how patches are made.
struct EarlierVersions {
    std::vector<std::filesystem::path> dirs;
    std::string manifestName;
    PatchSettings settings;
    // An earlier version larger than this gets no patch (see kPatchableOldSizeMax).
    std::uint64_t largestOld = kPatchableOldSizeMax;
};

// The patches of one file, and why some earlier versions got none.
struct FilePatches {
    std::vector<PublishedPatch> patches;  // sorted by `from`
    std::size_t reused = 0;               // of them, made by an earlier run (see PatchRecord.h)
    std::vector<std::string> notes;       // "no patch from <path>: <why>", one per version left out
};

// The patches from every earlier version of the file at `rel` (relative, with '/') to the
// current file, written into the tree's patches directory, or taken from there when the record
// says an earlier run made them. The new file is read, never held whole; each earlier version is
// mapped, once. Throws std::runtime_error naming the file that could not be read, patched or
// written.
FilePatches WritePatches(const EarlierVersions& earlier, const std::string& rel, const std::filesystem::path& current,
                         const std::filesystem::path& treeDir, PatchRecord& record);
