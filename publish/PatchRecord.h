#pragma once
// What earlier runs of the publisher made of each pair of versions, kept in the tree beside the
// patches (patches/record.tsv), so that a run over the same versions takes the patches already
// there instead of making them again: a big file's patch takes minutes, and would come out the
// same bytes.
//
// A line per pair: the MD5 of the earlier version, the MD5 of the new file, and the recipe the
// patch was made with (zstd's release and level, see PatchRecipe), then what came of it: the
// patch's name, size, MD5 and SHA-256, or that it was not worth keeping. A kept patch is trusted
// only while its file is in the tree with the recorded size (its name is its SHA-256, so those
// are its bytes); otherwise it is made again. Lines that cannot be read are passed over.
//
// Threads: the publisher's threads share one record; each call takes its lock.

#include <compare>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "manifest/ManifestWriter.h"

struct PatchKey {
    std::string from;    // the MD5 of the earlier version
    std::string to;      // the MD5 of the new file
    std::string recipe;  // see PatchRecipe
    auto operator<=>(const PatchKey&) const = default;
};

// What making a patch came to.
struct MadePatch {
    bool kept = false;  // false: it grew beyond what is worth keeping, and was dropped
    ListedPatch patch;  // with kept, all of it; without, its size when it was dropped
};

class PatchRecord {
public:
    // The record of the tree at `treeDir`, read from it when there is one.
    explicit PatchRecord(std::filesystem::path treeDir);

    // What was made for the key, when it can be trusted.
    std::optional<MadePatch> Find(const PatchKey& key) const;
    void Add(const PatchKey& key, const MadePatch& made);
    // Writes the record into the tree, through a temporary file, when this run added to it.
    // Throws CFileException when it cannot be written.
    void Save();

private:
    void Read();
    bool IsInTree(const ListedPatch& patch) const;

    std::filesystem::path m_treeDir;
    std::map<PatchKey, MadePatch> m_made;
    bool m_bChanged = false;
    mutable std::mutex m_mutex;
};
