#pragma once
// Making a patch from an earlier version of a file to the current one, for the publisher: a zstd
// frame compressed with the old file as its prefix, at a high level, with a window that spans
// both files and long-distance matching for big ones, so that a few changed records in a large
// file make a patch of about their size.

#include <string>
#include <string_view>

// The patch that turns `old` into `current`; the same bytes for the same inputs, run after run.
// Throws std::runtime_error when zstd fails (no memory).
std::string MakePatch(std::string_view old, std::string_view current, int nLevel = 19);
