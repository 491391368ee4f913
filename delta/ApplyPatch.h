#pragma once
// Turning an installed file into its new version with a patch: a zstd frame compressed with the
// old file as its prefix (zstd's "patch-from"). The old file, the patch and the new file are all
// mapped, and the frame is decoded straight into the new file's map, so the heap holds only
// zstd's decoding context (about 160 KB) whatever the files' sizes.

#include <cstdint>
#include <optional>
#include <string>

// The largest window a patch may need: zstd's largest, 2 GiB. A patch made for larger files is
// refused.
inline constexpr int kPatchWindowLogMax = 31;

// Writes the new file at strOutPath from the old file and the patch; it must come out nNewSize
// bytes long. Returns why it could not (for the log), or nothing when it did; a failed output is
// removed.
std::optional<std::string> ApplyPatch(const std::string& strOldPath, const std::string& strPatchPath, const std::string& strOutPath,
                       std::uint64_t nNewSize);
