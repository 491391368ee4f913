#pragma once
// Making a patch from an earlier version of a file to the current one, for the publisher: a zstd
// frame compressed with the old file as its prefix, with a window that spans both files and
// long-distance matching for big ones, so that a few changed records in a large file make a
// patch of about their size.
//
// The new file comes in and the patch goes out a piece at a time, so that neither is held whole
// by the caller; zstd itself keeps up to a window (at most 2 GiB) of the new file, and the old
// file must be in memory whole (mapped), since every part of it may be matched.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "delta/ApplyPatch.h"

// The level patches are made at unless the publisher chooses another. Measured on 200 MB of game
// records with 1 % of them rewritten: its patch is within a tenth of level 19's, made many times
// faster; the levels above it search much harder for little less.
inline constexpr int kDefaultPatchLevel = 12;

// The largest earlier version a patch is made from. A window reaches back at most 2 GiB
// (kPatchWindowLogMax), and a byte of the new file must reach the same place in the old one,
// about the old file's size back; an older version beyond that gets no patch.
inline constexpr std::uint64_t kPatchableOldSizeMax = std::uint64_t{1} << kPatchWindowLogMax;

struct PatchSettings {
    int level = kDefaultPatchLevel;
    // zstd's worker threads. Any count from 1 on gives the same bytes (zstd cuts the work in the
    // same jobs whatever the count); 0, compressing in the caller's thread, gives others.
    int workers = 1;
};

// Whether the level is one zstd makes patches at (1 to 22).
bool IsPatchLevel(int level);
// The levels IsPatchLevel accepts, for messages: "1 to 22".
std::string PatchLevelRange();

// Everything besides the two files that decides a patch's bytes: the zstd release, the level,
// threaded or not. The same files and the same recipe give the same patch.
std::string PatchRecipe(const PatchSettings& settings);

// Fills the buffer with the new file's next bytes; returns how many, 0 only at its end.
using PatchInput = std::function<std::size_t(char* buffer, std::size_t size)>;
// Takes the patch's next bytes; returns false when the rest is not wanted (the patch has grown
// too large to be worth keeping), which ends the making.
using PatchOutput = std::function<bool(const char* data, std::size_t size)>;

// Makes the patch that turns `old` into the newSize bytes `input` gives, handing it to `output`
// as zstd makes it. Returns false when the output stopped it. The same bytes for the same inputs
// and settings, run after run. Throws std::runtime_error when zstd fails (no memory, an input
// that is not newSize bytes long).
bool MakePatch(std::string_view old, std::uint64_t newSize, const PatchInput& input, const PatchSettings& settings,
               const PatchOutput& output);

// The same for bytes in memory, the patch returned whole: for small files.
std::string MakePatch(std::string_view old, std::string_view current, const PatchSettings& settings = {});
