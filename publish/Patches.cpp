#include "publish/Patches.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string_view>

#include "digest/MD5Checksum.h"
#include "digest/Sha256.h"
#include "manifest/PackageName.h"
#include "platform/AtomicFile.h"
#include "platform/Crypto.h"
#include "platform/MappedFile.h"
#include "platform/Path.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kKeptPercent = 80;
constexpr std::string_view kPatchDir = "patches/";
// From this size of the new file on, a patch is made alone: its memory is the size of both
// versions, and two such at once would take twice that.
constexpr std::uint64_t kAloneFrom = 64u << 20;

std::mutex& BigPatchTurn()
{
    static std::mutex turn;
    return turn;
}

// What the publisher itself wrote into an earlier tree: never an earlier version of a build file.
bool IsPublisherOutput(const std::string& rel, const std::string& manifestName)
{
    return rel.starts_with(kPatchDir) || rel.ends_with(".minisig") || rel == manifestName ||
           rel == PackageName(manifestName);
}

// "3.00 GiB", or for less than that "5000 bytes".
std::string SizeText(std::uint64_t bytes)
{
    if (bytes < (1u << 30))
        return std::to_string(bytes) + " bytes";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f GiB", static_cast<double>(bytes) / (1u << 30));
    return text;
}

// Both digests of a patch, taken as it is written.
class PatchDigests {
public:
    void Update(const char* pData, std::size_t nLength)
    {
        m_md5.Update(pData, nLength);
        m_sha256.Update(pData, nLength);
    }
    void Finish(PublishedPatch& patch)
    {
        patch.md5 = CMD5Checksum::ToHex(m_md5.Final());
        const Sha256Digest sha256 = m_sha256.Final();
        patch.sha256 = ToHex(sha256.data(), sha256.size());
    }

private:
    CMD5Checksum m_md5;
    CSha256 m_sha256;
};

// Whether the tree already holds the patch, from an earlier run whose record is gone: a file of
// its name (its SHA-256) and size has its bytes.
bool AlreadyInTree(const fs::path& path, std::uint64_t size)
{
    std::error_code error;
    return fs::is_regular_file(path, error) && fs::file_size(path, error) == size;
}

// Makes the patch into a temporary file in the patches directory, digesting it on the way, and
// renames it to its content's name; drops it as soon as it grows beyond what is worth keeping.
MadePatch MakeInto(const fs::path& oldPath, const fs::path& current, const fs::path& treeDir,
                   const PatchSettings& settings)
{
    const CMappedFile oldFile = CMappedFile::Read(Utf8OfPath(oldPath));
    const CMappedFile newFile = CMappedFile::Read(Utf8OfPath(current));
    const std::uint64_t keptMax = newFile.Size() * kKeptPercent / 100;
    fs::create_directories(treeDir / kPatchDir);
    CAtomicFile file(Utf8OfPath(treeDir / kPatchDir / "patch.zst"));  // its name comes with its bytes
    PatchDigests digests;
    MadePatch made;
    const auto write = [&](const char* data, std::size_t size) {
        made.patch.size += size;
        if (made.patch.size > keptMax)
            return false;
        digests.Update(data, size);
        file.Write(data, size);
        return true;
    };
    if (!MakePatch({oldFile.Data(), oldFile.Size()}, {newFile.Data(), newFile.Size()}, settings, write))
        return made;  // the temporary file goes with `file`
    digests.Finish(made.patch);
    made.patch.name = std::string(kPatchDir) + made.patch.sha256 + ".zst";
    made.kept = true;
    const fs::path path = treeDir / made.patch.name;
    if (!AlreadyInTree(path, made.patch.size))
        file.CommitAs(Utf8OfPath(path), false);
    return made;
}

MadePatch Make(const fs::path& oldPath, const fs::path& current, const fs::path& treeDir,
               const PatchSettings& settings)
{
    std::unique_lock turn(BigPatchTurn(), std::defer_lock);
    if (fs::file_size(current) >= kAloneFrom)
        turn.lock();
    try {
        return MakeInto(oldPath, current, treeDir, settings);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error("no patch from " + Utf8OfPath(oldPath) + ": " + e.what());
    }
}

// The earlier versions of one file and what came of each.
class FilePatcher {
public:
    FilePatcher(const EarlierVersions& earlier, const fs::path& current, const fs::path& treeDir, PatchRecord& record)
        : m_earlier(earlier), m_current(current), m_treeDir(treeDir), m_record(record),
          m_newSize(fs::file_size(current))
    {
    }

    void Add(const fs::path& oldPath)
    {
        const std::uint64_t oldSize = fs::file_size(oldPath);
        if (oldSize > m_earlier.largestOld) {
            if (oldSize != m_newSize || CMD5Checksum::HashFile(Utf8OfPath(oldPath)) != NewMd5())
                Note(oldPath, "it is " + SizeText(oldSize) + ", beyond the " + SizeText(m_earlier.largestOld) +
                                  " a patch can reach back");
            return;
        }
        // Read rather than mapped: a run that finds the patch in the record needs no more of it.
        const std::string from = CMD5Checksum::HashFile(Utf8OfPath(oldPath));
        if (from == NewMd5() || !m_tried.insert(from).second)
            return;  // the same file, or a version already patched from
        const PatchKey key{from, NewMd5(), PatchRecipe(m_earlier.settings)};
        std::optional<MadePatch> made = m_record.Find(key);
        const bool reused = made.has_value();
        if (!made) {
            made = Make(oldPath, m_current, m_treeDir, m_earlier.settings);
            m_record.Add(key, *made);
        }
        made->patch.from = from;
        if (!made->kept) {
            Note(oldPath, "a patch would be more than " + std::to_string(kKeptPercent) + " % of the file");
            return;
        }
        m_patches.emplace(from, made->patch);
        m_result.reused += reused;
    }

    FilePatches Result()
    {
        for (auto& [from, patch] : m_patches)
            m_result.patches.push_back(std::move(patch));
        return std::move(m_result);
    }

private:
    const std::string& NewMd5()
    {
        if (!m_newMd5)
            m_newMd5 = CMD5Checksum::HashFile(Utf8OfPath(m_current));
        return *m_newMd5;
    }

    void Note(const fs::path& oldPath, const std::string& why)
    {
        m_result.notes.push_back("no patch from " + Utf8OfPath(oldPath) + ": " + why);
    }

    const EarlierVersions& m_earlier;
    const fs::path& m_current;
    const fs::path& m_treeDir;
    PatchRecord& m_record;
    const std::uint64_t m_newSize;
    std::optional<std::string> m_newMd5;           // read once, when an earlier version needs it
    std::set<std::string> m_tried;                 // the versions already seen, by MD5
    std::map<std::string, PublishedPatch> m_patches;  // by `from`: one per version, sorted
    FilePatches m_result;
};

}  // namespace

FilePatches WritePatches(const EarlierVersions& earlier, const std::string& rel, const fs::path& current,
                         const fs::path& treeDir, PatchRecord& record)
{
    if (IsPublisherOutput(rel, earlier.manifestName))
        return {};
    FilePatcher patcher(earlier, current, treeDir, record);
    for (const fs::path& dir : earlier.dirs) {
        const fs::path oldPath = dir / PathFromUtf8(rel);
        std::error_code error;
        if (fs::is_regular_file(oldPath, error))
            patcher.Add(oldPath);
    }
    return patcher.Result();
}
