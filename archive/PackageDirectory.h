#pragma once
// What a zip package unpacks to, told by its last bytes alone: its central directory lies at its
// end, so the few kilobytes there can be asked for before the package itself is downloaded.

#include <cstdint>
#include <optional>
#include <string_view>

// The sum of the sizes the entries of the archive of nArchiveSize bytes unpack to, given its last
// tail.size() bytes; nothing when its central directory does not lie wholly within them or they
// are not a zip archive's end.
std::optional<std::uint64_t> UnpackedSizeFromTail(std::string_view tail, std::uint64_t nArchiveSize);
