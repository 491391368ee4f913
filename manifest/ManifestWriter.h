#pragma once
// The manifest's format, written: the files of a release in, the text the updater reads (see
// ManifestReader.h) out. Nothing here touches the disk. Any thread may write a text; nothing
// is shared, and nothing fails.

#include <cstdint>
#include <string>
#include <vector>

// A patch from an earlier version of a file.
struct ListedPatch {
    std::string from;  // the MD5 of the earlier version it applies to
    std::string name;  // below the tree, with '/': patches/<sha256>.zst
    std::uint64_t size = 0;
    std::string md5;
    std::string sha256;
};

// A file of the release as its entry states it.
struct ListedFile {
    std::string name;  // relative, with '\' between directories, as the manifest has it
    std::uint64_t size = 0;
    std::string md5;
    std::string sha256;
    unsigned mode = 0;                 // the file's permission bits
    std::vector<ListedPatch> patches;  // sorted by `from`
};

// The manifest text for the files, in their order. A file with an execute bit gets its
// permission bits in a "mode" attribute, so that it arrives executable. A file with patches lists
// them inside its element, one <patch> each.
std::string WriteManifest(const std::vector<ListedFile>& files, const std::string& version);
