#include "publish/Patches.h"

#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string_view>

#include "delta/MakePatch.h"
#include "digest/MD5Checksum.h"
#include "manifest/PackageName.h"
#include "platform/AtomicFile.h"
#include "digest/Sha256.h"
#include "platform/Crypto.h"
#include "platform/MappedFile.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kKeptPercent = 80;
constexpr std::string_view kPatchDir = "patches/";

// What the publisher itself wrote into an earlier tree: never an earlier version of a build file.
bool IsPublisherOutput(const std::string& rel, const std::string& manifestName)
{
    return rel.starts_with(kPatchDir) || rel.ends_with(".minisig") || rel == manifestName ||
           rel == PackageName(manifestName);
}

std::string_view BytesOf(const CMappedFile& file)
{
    return {file.Data(), file.Size()};
}

std::string Md5Of(std::string_view bytes)
{
    CMD5Checksum md5;
    md5.Update(bytes.data(), bytes.size());
    return CMD5Checksum::ToHex(md5.Final());
}

std::string Sha256Of(std::string_view bytes)
{
    CSha256 sha256;
    sha256.Update(bytes.data(), bytes.size());
    const Sha256Digest digest = sha256.Final();
    return ToHex(digest.data(), digest.size());
}

bool WorthKeeping(std::uint64_t patchSize, std::uint64_t fileSize)
{
    return patchSize * 100 <= fileSize * kKeptPercent;
}

// Whether the tree already holds these bytes under the patch's name, from an earlier run.
bool AlreadyWritten(const fs::path& path, std::string_view patch)
{
    std::error_code error;
    if (!fs::is_regular_file(path, error) || fs::file_size(path, error) != patch.size())
        return false;
    const CMappedFile existing = CMappedFile::Read(path.string());
    return patch.empty() || std::memcmp(existing.Data(), patch.data(), patch.size()) == 0;
}

// Writes the patch under its content's name, through a temporary file, unless it is there.
PublishedPatch Store(const std::string& from, std::string_view patch, const fs::path& treeDir)
{
    PublishedPatch stored;
    stored.from = from;
    stored.sha256 = Sha256Of(patch);
    stored.md5 = Md5Of(patch);
    stored.size = patch.size();
    stored.name = std::string(kPatchDir) + stored.sha256 + ".zst";
    const fs::path path = treeDir / stored.name;
    if (!AlreadyWritten(path, patch)) {
        fs::create_directories(path.parent_path());
        CAtomicFile file(path.string());
        file.Write(patch.data(), patch.size());
        file.Commit(false);
    }
    return stored;
}

bool SameBytes(const CMappedFile& a, const CMappedFile& b)
{
    return a.Size() == b.Size() && (a.Size() == 0 || std::memcmp(a.Data(), b.Data(), a.Size()) == 0);
}

std::string Patch(const CMappedFile& oldFile, const CMappedFile& newFile, const fs::path& oldPath)
{
    try {
        return MakePatch(BytesOf(oldFile), BytesOf(newFile));
    } catch (const std::runtime_error& e) {
        throw std::runtime_error("no patch from " + oldPath.string() + ": " + e.what());
    }
}

}  // namespace

std::vector<PublishedPatch> WritePatches(const EarlierVersions& earlier, const std::string& rel,
                                         const fs::path& current, const fs::path& treeDir)
{
    if (IsPublisherOutput(rel, earlier.manifestName))
        return {};
    std::map<std::string, PublishedPatch> patches;  // by `from`: one per version, sorted
    std::set<std::string> tried;                    // the versions already seen, by MD5
    std::optional<CMappedFile> newFile;             // mapped once, for all the versions
    for (const fs::path& dir : earlier.dirs) {
        const fs::path oldPath = dir / rel;
        std::error_code error;
        if (!fs::is_regular_file(oldPath, error))
            continue;
        if (!newFile)
            newFile.emplace(CMappedFile::Read(current.string()));
        const CMappedFile oldFile = CMappedFile::Read(oldPath.string());
        if (SameBytes(oldFile, *newFile))
            continue;
        const std::string from = Md5Of(BytesOf(oldFile));
        if (!tried.insert(from).second)
            continue;
        const std::string patch = Patch(oldFile, *newFile, oldPath);
        if (WorthKeeping(patch.size(), newFile->Size()))
            patches.emplace(from, Store(from, patch, treeDir));
    }
    std::vector<PublishedPatch> sorted;
    for (auto& [from, patch] : patches)
        sorted.push_back(std::move(patch));
    return sorted;
}
