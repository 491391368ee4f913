#pragma once
// Publishing an update: from a build directory, the update tree a static HTTP server serves
// under /update/ — every file under its relative path, the manifest listing them with their
// sizes and MD5 and SHA-256 digests, and on request the package (the manifest's name with ".zip").
// With earlier builds or trees, each changed file also gets patches from its earlier versions in
// the tree's patches directory, listed in its entry (see Patches.h). With a minisign secret key,
// the manifest and the package get signatures beside them (NAME.minisig).
//
// Files are written before the manifest, and the manifest and the package are renamed into
// place when complete (each just after its signature), so a server never hands out a manifest
// that names a missing file.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "manifest/ManifestWriter.h"
#include "publish/Patches.h"

struct PublishOptions {
    std::string buildDir;
    std::string treeDir;
    std::string manifestName = "update.xml";
    std::string version = "1.0";
    std::vector<std::string> excludes;  // shell patterns, matched against the relative path
    bool package = false;
    int threads = 2;
    std::vector<std::string> previousDirs;      // earlier builds or published trees, to patch from
    int patchLevel = kDefaultPatchLevel;        // zstd's level for the patches (see IsPatchLevel)
    std::uint64_t patchableOldSizeMax = kPatchableOldSizeMax;  // a larger earlier version gets no patch
    std::string signingKey;                     // a minisign secret key file; empty: nothing signed
    std::optional<std::uint64_t> expiresAfter;  // seconds after signing that the signatures expire
    std::function<std::string()> passphrase;    // asked only when the key is encrypted
};

// A file as its manifest entry states it, and whether this run wrote it.
struct PublishedFile : ListedFile {
    bool written = false;              // false: the tree already held the same file
    std::size_t patchesReused = 0;     // of its patches, those an earlier run made
    std::vector<std::string> patchNotes;  // the earlier versions that got no patch, and why
};

struct PublishResult {
    std::vector<PublishedFile> files;  // sorted by name
    std::optional<std::string> error;  // why the tree was not published
};

// One line per file as it is done, with a progress count.
using PublishProgress = std::function<void(std::size_t done, std::size_t total, const PublishedFile& file)>;

PublishResult Publish(const PublishOptions& options, const PublishProgress& progress = {});

// The manifest text for the published files, as the format's writer writes it (see
// manifest/ManifestWriter.h).
std::string ManifestText(const std::vector<PublishedFile>& files, const std::string& version);
