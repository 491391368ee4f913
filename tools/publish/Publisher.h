#pragma once
// Publishing an update: from a build directory, the update tree a static HTTP server serves
// under /update/ — every file under its relative path, the manifest listing them with their
// sizes and MD5 digests, and on request the package (the manifest's name with ".zip").
//
// Files are written before the manifest, and the manifest and the package are renamed into
// place when complete, so a server never hands out a manifest that names a missing file.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct PublishOptions {
    std::string buildDir;
    std::string treeDir;
    std::string manifestName = "update.xml";
    std::string version = "1.0";
    std::vector<std::string> excludes;  // shell patterns, matched against the relative path
    bool package = false;
    int threads = 2;
};

struct PublishedFile {
    std::string name;  // relative, with '\' between directories, as the manifest has it
    std::uint64_t size = 0;
    std::string md5;
    bool written = false;  // false: the tree already held the same file
};

struct PublishResult {
    std::vector<PublishedFile> files;  // sorted by name
    std::string error;                 // empty when the tree was published
};

// One line per file as it is done, with a progress count.
using PublishProgress = std::function<void(std::size_t done, std::size_t total, const PublishedFile& file)>;

PublishResult Publish(const PublishOptions& options, const PublishProgress& progress = {});

// The manifest text for the files, as the updater reads it.
std::string ManifestText(const std::vector<PublishedFile>& files, const std::string& version);
