#pragma once
// Where an entry's name, and a link entry's target, lead in the tree an archive is unpacked into.
// Separators are '\' or '/'.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Path.h"  // PathComponents

// No file system takes a link target longer than this.
inline constexpr std::size_t kMaxLinkTarget = 4095;

// An entry's name as it is unpacked: drive prefixes, leading separators and whatever comes before
// an inner ".." component dropped, again and again, then "." and empty components dropped.
std::string CleanedEntryName(const std::string& name);

// Whether a link named entryName (relative to the tree it is unpacked into) with this target
// leads to a place inside that tree: the target is relative, its ".." components all come first,
// and they climb no higher than the tree's root.
bool LinkStaysInside(std::string_view entryName, std::string_view target);
