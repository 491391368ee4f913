#include "publish/Publisher.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sys/stat.h>
#include <thread>

#include "archive/ZipWriter.h"
#include "digest/MD5Checksum.h"
#include "manifest/PackageName.h"
#include "platform/AtomicFile.h"
#include "digest/Sha256.h"
#include "platform/Crypto.h"
#include "platform/Descriptor.h"
#include "platform/Path.h"
#include "platform/TextEncoding.h"
#include "platform/Wildcard.h"
#include "platform/WindowsName.h"
#include "publish/Signer.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kChunk = 1 << 20;

struct Source {
    fs::path path;     // in the build directory (a link already resolved)
    std::string rel;   // relative, with '/'
    std::string name;  // relative, with '\'
};

std::string WindowsName(std::string rel)
{
    std::replace(rel.begin(), rel.end(), '/', '\\');
    return rel;
}

bool IsInside(const fs::path& path, const fs::path& dir)
{
    auto [end, unused] = std::mismatch(dir.begin(), dir.end(), path.begin(), path.end());
    return end == dir.end();
}

bool Excluded(const std::string& rel, const std::vector<std::string>& patterns)
{
    const std::string file = rel.substr(rel.find_last_of('/') + 1);
    return std::any_of(patterns.begin(), patterns.end(), [&](const std::string& pattern) {
        return MatchesWildcard(pattern, rel) || MatchesWildcard(pattern, file);
    });
}

// Why the updater could not take this name, or nothing when it can.
std::optional<std::string> NameProblem(const std::string& rel)
{
    if (rel.find('\\') != std::string::npos)
        return "its name holds a backslash, which the updater reads as a directory separator";
    if (std::any_of(rel.begin(), rel.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; }))
        return "its name holds a control character";
    // The manifest is UTF-8 and a name in another encoding (GBK, from a Chinese Windows tool) would
    // make the whole document one the updater cannot read.
    if (!IsValidUtf8(rel))
        return "its name is not UTF-8, which the manifest is written in";
    if (rel == "Reg.Local")
        return "\"Reg.Local\" is a name the updater skips";
    // The players' installations are on Windows, where the updater refuses such a name.
    if (std::optional<std::string> fault = WindowsNameFault(rel))
        return "its name cannot be a file's on Windows: " + *fault;
    // The updater would install it under another name than the build's: the studio should know.
    if (const std::string stored = WindowsStoredName(rel); stored != rel)
        return "Windows drops the dots and blanks its name's parts end in: players would get " + stored;
    return std::nullopt;
}

// Two files whose names differ in letter case alone would be one file in a player's installation.
std::optional<std::string> CaseConflict(const std::vector<Source>& sources)
{
    CCaseFoldedNames names;
    for (std::size_t i = 0; i < sources.size(); ++i)
        if (std::optional<std::size_t> other = names.Add(sources[i].rel, i))
            return sources[i].rel + ": its name differs from " + sources[*other].rel +
                   " in letter case alone, and Windows holds both as one file";
    return std::nullopt;
}

// The files to publish, sorted by their names in the manifest; why not, on refusal.
std::optional<std::string> Collect(const PublishOptions& options, std::vector<Source>& sources)
{
    std::error_code error;
    const fs::path build = fs::canonical(PathFromUtf8(options.buildDir), error);
    if (error || !fs::is_directory(build))
        return options.buildDir + ": no such directory";
    const fs::path tree = fs::weakly_canonical(PathFromUtf8(options.treeDir));
    for (auto it = fs::recursive_directory_iterator(build, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        const fs::path& path = it->path();
        const std::string rel = GenericUtf8OfPath(path.lexically_relative(build));  // links not resolved
        if (IsInside(path, tree)) {  // the output written into the input
            it.disable_recursion_pending();
            continue;
        }
        if (Excluded(rel, options.excludes)) {
            it.disable_recursion_pending();
            continue;
        }
        fs::path real = path;
        if (it->is_symlink()) {
            real = fs::canonical(path, error);
            if (error || !IsInside(real, build))
                return rel + ": the link leads outside " + options.buildDir;
            if (fs::is_directory(real))
                continue;  // its files are published under their own paths
        } else if (it->is_directory()) {
            continue;
        }
        if (!fs::is_regular_file(real))
            continue;
        if (std::optional<std::string> problem = NameProblem(rel))
            return rel + ": " + *problem;
        sources.push_back({real, rel, WindowsName(rel)});
    }
    if (error)
        return options.buildDir + ": " + error.message();
    std::sort(sources.begin(), sources.end(), [](const Source& a, const Source& b) { return a.name < b.name; });
    return CaseConflict(sources);
}

// Both digests the manifest gives, fed the same bytes, so that each file is read once.
class FileDigests {
public:
    void Update(const char* pData, std::size_t nLength)
    {
        m_md5.Update(pData, nLength);
        m_sha256.Update(pData, nLength);
    }
    void Finish(PublishedFile& file)
    {
        file.md5 = CMD5Checksum::ToHex(m_md5.Final());
        const Sha256Digest sha256 = m_sha256.Final();
        file.sha256 = ToHex(sha256.data(), sha256.size());
    }

private:
    CMD5Checksum m_md5;
    CSha256 m_sha256;
};

void HashFile(const fs::path& path, std::vector<char>& buffer, PublishedFile& file)
{
    std::ifstream in(path, std::ios::binary);
    FileDigests digests;
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0)
        digests.Update(buffer.data(), static_cast<std::size_t>(in.gcount()));
    if (in.bad() || !in.eof())
        throw std::runtime_error(Utf8OfPath(path) + ": cannot be read");
    digests.Finish(file);
}

struct DescriptorCloser {
    int fd;
    ~DescriptorCloser() { CloseDescriptor(fd); }
};

// The file's permission bits and times; all zero when it cannot be looked at.
DescriptorFacts FactsOfFile(const fs::path& path)
{
    const int fd = OpenForReading(Utf8OfPath(path));
    if (fd < 0)
        return {};
    const DescriptorCloser close{fd};
    return GetDescriptorFacts(fd).value_or(DescriptorFacts{});
}

// Copies the file into place through a temporary name, hashing what it copies.
void CopyHashing(const fs::path& from, const fs::path& to, std::vector<char>& buffer, PublishedFile& file)
{
    const int in = OpenForReading(Utf8OfPath(from));
    if (in < 0)
        throw std::runtime_error(Utf8OfPath(from) + ": " + std::strerror(errno));
    const DescriptorCloser closeIn{in};
    const DescriptorFacts facts = GetDescriptorFacts(in).value_or(DescriptorFacts{});
    fs::create_directories(to.parent_path());
    CAtomicFile out(Utf8OfPath(to), facts.mode & 0777);
    FileDigests digests;
    std::uint64_t size = 0;
    for (;;) {
        const std::int64_t n = ReadDescriptor(in, buffer.data(), buffer.size());
        if (n < 0)
            throw std::runtime_error(Utf8OfPath(from) + ": " + std::strerror(errno));
        if (n == 0)
            break;
        digests.Update(buffer.data(), static_cast<std::size_t>(n));
        size += static_cast<std::uint64_t>(n);
        out.Write(buffer.data(), static_cast<std::size_t>(n));
    }
    SetDescriptorTimes(out.Descriptor(), facts.accessed, facts.modified);
    out.Commit(false);
    file.size = size;
    digests.Finish(file);
}

PublishedFile PublishOne(const Source& source, const fs::path& updateDir, std::vector<char>& buffer)
{
    PublishedFile file;
    file.name = source.name;
    file.mode = static_cast<unsigned>(fs::status(source.path).permissions() & fs::perms::mask) & 0777;
    const fs::path target = updateDir / PathFromUtf8(source.rel);
    std::error_code error;
    const std::uint64_t sourceSize = fs::file_size(source.path);
    if (fs::is_regular_file(target, error) && fs::file_size(target, error) == sourceSize) {
        HashFile(source.path, buffer, file);
        if (CMD5Checksum::HashFile(Utf8OfPath(target)) == file.md5) {
            file.size = sourceSize;
            return file;  // unchanged: not written again
        }
    }
    CopyHashing(source.path, target, buffer, file);
    file.written = true;
    return file;
}

// Renames the complete file over its path, its signature just before it when signing: a reader
// that finds the new file finds its signature too.
void PlaceFile(CAtomicFile& file, const fs::path& path, const PublishSigner* signer)
{
    if (signer) {
        CAtomicFile signature(Utf8OfPath(path) + ".minisig");
        const std::string text = signer->SignatureOf(PathFromUtf8(file.TemporaryPath()), Utf8OfPath(path.filename()));
        signature.Write(text.data(), text.size());
        signature.Commit(false);
    }
    file.Commit(false);
}

void WriteText(const fs::path& path, const std::string& text, const PublishSigner* signer)
{
    CAtomicFile file(Utf8OfPath(path));
    file.Write(text.data(), text.size());
    PlaceFile(file, path, signer);
}

// Each file under its relative path, with its permission bits and last-write time (to the second
// in an extended-timestamp field, where the DOS time keeps only every other second).
void WritePackage(const fs::path& zipPath, const std::vector<Source>& sources, const fs::path& updateDir,
                  std::vector<char>& buffer, const PublishSigner* signer)
{
    CAtomicFile package(Utf8OfPath(zipPath));
    try {
        // A failure part of the way closes the writer; the package's temporary file goes with it.
        ZipWriter zip(package.TemporaryPath());
        for (const Source& source : sources) {
            const fs::path file = updateDir / PathFromUtf8(source.rel);
            const DescriptorFacts facts = FactsOfFile(file);
            ZipEntryHeader header;
            header.name = source.rel;
            header.external = static_cast<std::uint32_t>(S_IFREG | (facts.mode & 0777)) << 16;
            header.dosDate = DosDateTime(static_cast<std::time_t>(facts.modified.nSeconds));
            header.localExtra = ExtendedTimestamp(1, static_cast<std::int32_t>(facts.modified.nSeconds));
            header.zip64 = true;
            zip.Begin(header);
            std::ifstream in(file, std::ios::binary);
            while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0)
                zip.Write(buffer.data(), static_cast<std::size_t>(in.gcount()));
            if (in.bad() || !in.eof())
                throw std::runtime_error(source.rel + " cannot be added");
            zip.End();
        }
        zip.Finish();
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(Utf8OfPath(zipPath) + ": " + e.what());
    }
    PlaceFile(package, zipPath, signer);
}

}  // namespace

std::string ManifestText(const std::vector<PublishedFile>& files, const std::string& version)
{
    return WriteManifest(std::vector<ListedFile>(files.begin(), files.end()), version);
}

PublishResult Publish(const PublishOptions& options, const PublishProgress& progress)
{
    PublishResult result;
    std::vector<Source> sources;
    if (std::optional<std::string> error = Collect(options, sources)) {
        result.error = error;
        return result;
    }
    for (const Source& source : sources) {
        if (fs::file_size(source.path) > 0xFFFFFFFFull) {
            result.error = source.rel + ": larger than 4 GiB, which the manifest cannot state";
            return result;
        }
    }
    if (!IsPatchLevel(options.patchLevel)) {
        result.error = "patch level " + std::to_string(options.patchLevel) + ": not a zstd level from " +
                       PatchLevelRange();
        return result;
    }
    for (const std::string& dir : options.previousDirs) {
        if (!fs::is_directory(PathFromUtf8(dir))) {
            result.error = dir + ": no such directory to patch from";
            return result;
        }
    }
    // The key is read, and its passphrase asked, before anything in the tree changes.
    std::optional<PublishSigner> signer;
    if (!options.signingKey.empty()) {
        try {
            signer.emplace(options.signingKey, options.passphrase, static_cast<std::uint64_t>(std::time(nullptr)),
                           options.expiresAfter);
        } catch (const std::exception& e) {
            result.error = e.what();
            return result;
        }
    }
    const PublishSigner* signing = signer ? &*signer : nullptr;
    const fs::path updateDir = PathFromUtf8(options.treeDir);
    result.files.resize(sources.size());
    std::vector<fs::path> previousDirs;
    for (const std::string& dir : options.previousDirs)
        previousDirs.push_back(PathFromUtf8(dir));
    const EarlierVersions earlier{std::move(previousDirs), options.manifestName,
                                  PatchSettings{options.patchLevel}, options.patchableOldSizeMax};
    PatchRecord record(updateDir);
    std::atomic<std::size_t> next{0}, done{0};
    std::mutex mutex;
    std::optional<std::string> failure;
    auto work = [&] {
        std::vector<char> buffer(kChunk);
        for (std::size_t i; (i = next++) < sources.size();) {
            try {
                // Before the file is copied: the tree itself may hold the earlier version.
                FilePatches patches = WritePatches(earlier, sources[i].rel, sources[i].path, updateDir, record);
                result.files[i] = PublishOne(sources[i], updateDir, buffer);
                result.files[i].patches = std::move(patches.patches);
                result.files[i].patchesReused = patches.reused;
                result.files[i].patchNotes = std::move(patches.notes);
            } catch (const std::exception& e) {
                std::lock_guard lock(mutex);
                failure = e.what();
                next = sources.size();
                return;
            }
            std::lock_guard lock(mutex);
            if (progress)
                progress(++done, sources.size(), result.files[i]);
        }
    };
    std::vector<std::thread> workers;
    for (int t = 1; t < std::max(1, options.threads); ++t)
        workers.emplace_back(work);
    work();
    for (auto& worker : workers)
        worker.join();
    if (failure) {
        result.error = failure;
        try {
            record.Save();  // the patches made before the failure need not be made again
        } catch (const std::exception&) {
        }
        return result;
    }
    try {
        record.Save();
        std::vector<char> buffer(kChunk);
        if (options.package)
            WritePackage(updateDir / PathFromUtf8(PackageName(options.manifestName)), sources, updateDir, buffer, signing);
        const fs::path manifest = updateDir / PathFromUtf8(options.manifestName);
        WriteText(manifest, ManifestText(result.files, options.version), signing);
    } catch (const std::exception& e) {
        result.error = e.what();
    }
    return result;
}
