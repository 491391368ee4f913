#include "check/LocalCheck.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <system_error>
#include <thread>

#include "digest/MD5Checksum.h"
#include "check/CheckCache.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "policy/Policy.h"

namespace {

std::uint64_t NowNs()
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch()).count());
}

LocalResult Compare(const std::string& digest, const std::string& listed)
{
    return {digest == listed ? LocalState::Same : LocalState::Differs, digest};
}

LocalResult CheckOne(const LocalFile& file, CCheckCache* pCache, std::uint64_t startNs, const std::atomic<bool>* pStop)
{
    // One look tells whether the file is there, what it is and, for the cache, whether it changed.
    const std::optional<FileStatus> status = GetFileStatus(file.strPath);
    if (!status)
        return {LocalState::Differs, {}};
    // Only regular files are read: anything else at a listed name (a FIFO, a device, a link to
    // one) would make the check wait or read for ever, and a directory is no listed file. It
    // differs: it is replaced, or (a directory) its installation fails and says so.
    if (status->kind != FileKind::Regular)
        return {LocalState::Differs, {}};
    const std::optional<FileFacts> before = pCache ? std::optional(status->facts) : std::nullopt;
    if (before) {
        if (std::optional<std::string> known = pCache->KnownDigest(file.strName, *before)) {
            pCache->Record(file.strName, *before, *known);
            return Compare(*known, file.strDigest);
        }
    }
    std::string digest;
    try {
        // A big file is given up mid-way when the check is stopped: the run is ending.
        std::optional<std::string> read = CMD5Checksum::HashFileUnlessStopped(file.strPath, pStop);
        if (!read)
            return {LocalState::Differs, {}};
        digest = std::move(*read);
    } catch (const CFileException& e) {
        return {LocalState::Unreadable, {}, e.GetErrorMessage(), e.GetErrno()};
    }
    // What was read is what the facts describe only if they did not change meanwhile.
    if (before && pCache->Settled(*before, startNs)) {
        const std::optional<FileStatus> after = GetFileStatus(file.strPath);
        if (after && after->facts == *before)
            pCache->Record(file.strName, *before, digest);
    }
    return Compare(digest, file.strDigest);
}

}  // namespace

std::vector<LocalResult> CheckLocalFiles(const std::vector<LocalFile>& files, CCheckCache* pCache,
                                         const std::atomic<bool>* pStop)
{
    std::vector<LocalResult> states(files.size());
    const std::uint64_t startNs = NowNs();
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i; !(pStop && *pStop) && (i = next++) < files.size();)
            states[i] = CheckOne(files[i], pCache, startNs, pStop);
    };
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t helpers = std::min<std::size_t>(std::min(cores, kMostCheckThreads), files.size()) - (files.empty() ? 0 : 1);
    std::vector<std::jthread> pool;
    try {
        for (std::size_t i = 0; i < helpers; ++i)
            pool.emplace_back(work);
    } catch (const std::system_error&) {
        // no more threads to be had: the ones there (and this one) check every file all the same
    }
    work();
    pool.clear();  // every file's state is in before they are handed over
    return states;
}
