#pragma once
// Making a patch from an earlier version of a file to the current one, for the publisher: a zstd
// frame compressed with the old file as its prefix, with a window that spans both files and
// long-distance matching for big ones, so that a few changed records in a large file make a
// patch of about their size.
//
// Both versions are read where they lie (mapped, for files), never copied, and the patch goes
// out a piece at a time as zstd makes it, so that the memory is the two files' pages and zstd's
// tables. zstd compresses in the caller's thread: its worker threads (zstd 1.5) copy a prefix
// whole into a dictionary of their own and the new file into their input buffer, which for two
// 200 MB versions took twice their size in memory, where one thread needs about their size.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "delta/ApplyPatch.h"

// The level patches are made at unless the publisher chooses another: zstd's, its search cut
// short (see MakePatch.cpp). Measured on 200 MB of game records with 1 % of them rewritten, its
// patch is within an eighth of level 19's in full, made in under a minute where that takes three;
// the levels from 13 to 16 make larger patches than 12, slower.
inline constexpr int kDefaultPatchLevel = 17;

// The largest earlier version a patch is made from. A window reaches back at most 2 GiB
// (kPatchWindowLogMax), and a byte of the new file must reach the same place in the old one,
// about the old file's size back; an older version beyond that gets no patch.
inline constexpr std::uint64_t kPatchableOldSizeMax = std::uint64_t{1} << kPatchWindowLogMax;

struct PatchSettings {
    int level = kDefaultPatchLevel;
};

// Whether the level is one zstd makes patches at (1 to 22).
bool IsPatchLevel(int level);
// The levels IsPatchLevel accepts, for messages: "1 to 22".
std::string PatchLevelRange();

// Everything besides the two files that decides a patch's bytes: the zstd release, the level and
// the cut of the search.
// The same files and the same recipe give the same patch.
std::string PatchRecipe(const PatchSettings& settings);

// Takes the patch's next bytes; returns false when the rest is not wanted (the patch has grown
// too large to be worth keeping), which ends the making.
using PatchOutput = std::function<bool(const char* data, std::size_t size)>;

// Makes the patch that turns `old` into `current`, handing it to `output` as zstd makes it.
// Returns false when the output stopped it. The same bytes for the same inputs and settings, run
// after run, wherever the inputs lie in memory. Throws std::runtime_error when zstd fails (no
// memory).
bool MakePatch(std::string_view old, std::string_view current, const PatchSettings& settings,
               const PatchOutput& output);

// The same, the patch returned whole: for small files.
std::string MakePatch(std::string_view old, std::string_view current, const PatchSettings& settings = {});
