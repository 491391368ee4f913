// One file's download: whole, continued from held bytes, tried again after a passing failure,
// verified before it is kept. The way through a patch is in FetchFromPatch.cpp.

#include "download/FileFetch.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include <strings.h>

#include "download/FetchError.h"
#include "download/TempNames.h"
#include "download/Verification.h"
#include "platform/Executable.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/Path.h"

namespace {

constexpr std::size_t kBlockSize = FetchLane::kBlockSize;
// From this size on, a file's writes go straight to the disk (see CFile::modeDirect).
constexpr std::uint64_t kDirectWriteFrom = 16u << 20;

// Texts a server's error page starts with.
constexpr std::string_view kErrorPageMarkers[] = {"<html>", "<!DOCTYPE HTML PUBLIC"};

bool IsErrorStatus(int status)
{
    return status >= 400;
}

bool StartsLikeErrorPage(const char* pBlock, std::size_t nSize)
{
    for (std::string_view marker : kErrorPageMarkers)
        if (nSize >= marker.size() && std::memcmp(pBlock, marker.data(), marker.size()) == 0)
            return true;
    return false;
}

// How much the next read may ask for, at most `room`: a download is never read beyond one byte
// more than its size limit, which is how a longer body shows.
std::size_t NextRead(const tagDownloadTask& task, std::uint64_t received, std::size_t room)
{
    const std::optional<std::uint64_t> limit = task.SizeLimit();
    if (!limit)
        return room;
    const std::uint64_t allowed = *limit + 1 - std::min(received, *limit + 1);
    return static_cast<std::size_t>(std::min<std::uint64_t>(room, allowed));
}

// Which version of the file held bytes are of: the one the manifest describes, or for a package
// whatever its name gives (its validator then tells versions apart).
std::string Identity(const tagDownloadTask& task)
{
    if (task.expected)
        return "md5 " + NormalizedDigest(task.expected->strMd5) + " size " + std::to_string(task.expected->nSize);
    return "file " + task.szName;
}

// What If-Range can carry: a strong ETag, else the modification time; nothing for a weak ETag
// alone, which a server may keep across changes.
std::string StrongValidator(const CHttpFile& http)
{
    if (std::string etag = http.QueryHeader("ETag"); !etag.empty() && !etag.starts_with("W/"))
        return etag;
    return http.QueryHeader("Last-Modified");
}

// Feeds the first nBytes of the open file to the digests, then leaves the file to be written on
// from there.
void TakeHeldBytes(CFile& file, std::uint64_t nBytes, CDownloadDigests& digests)
{
    digests.UpdateFromFile(file, nBytes);
    file.KeepFirst(nBytes);
}

// The failure an answer that is not the file ends in when no try is left.
std::exception_ptr NotTheFile(const std::string& strCause)
{
    return std::make_exception_ptr(CFetchError::NotTheFile(strCause));
}

}  // namespace

CFileFetch::CFileFetch(tagDownloadTask& task, FetchLane& lane, IFetchRun& run)
    : m_task(task),
      m_lane(lane),
      m_run(run),
      m_strPath(TempFilePath(run.Setup().strTempDir, task, run.Setup().bManifestMode)),
      m_strIdentity(Identity(task))
{
}

bool CFileFetch::Store()
{
    m_run.FileBegun();
    if (!m_lane.pSession)
        throw CFetchError::NotTheFile("no connection could be opened for it");
    if (m_task.expected && m_task.expected->patch && !PathFileExists(m_strPath)) {
        if (FromPatch())
            return true;
        if (m_run.Stopped())
            return false;
        m_lane.nFileDone = 0;  // the patch's bytes stay in the total: they were fetched
    }
    return Whole();
}

bool CFileFetch::Whole()
{
    m_begun = std::chrono::steady_clock::now();
    m_held = FindHeldDownload(m_strPath, m_strIdentity);
    if (m_held && m_task.SizeLimit() && m_held->nBytes > *m_task.SizeLimit())
        m_held.reset();
    if (TakeCompleteHeldFile())
        return true;
    const RetryPolicy& policy = m_run.Setup().retries;
    for (;;) {
        std::optional<TryAgain> again;
        try {
            std::variant<TryEnd, TryAgain> end = Once();
            if (const TryEnd* done = std::get_if<TryEnd>(&end))
                return *done == TryEnd::Stored;
            again = std::get<TryAgain>(std::move(end));
        } catch (const CInternetException& e) {
            if (!e.IsTransient() || m_run.Stopped())
                throw;
            again = TryAgain{std::current_exception(), e.GetErrorMessage()};
        }
        if (m_nRetries >= policy.pauses.size())
            std::rethrow_exception(again->failure);
        const std::chrono::milliseconds pause =
            again->bAtOnce ? std::chrono::milliseconds(0) : PauseBeforeRetry(policy, m_nRetries, again->retryAfter);
        ++m_nRetries;
        LogNote("GET " + m_run.Url(m_task) + ": " + again->strCause + "; try " + std::to_string(m_nRetries + 1) + " in " +
                std::to_string(pause.count()) + " ms" +
                (m_held ? ", from byte " + std::to_string(m_held->nBytes) : std::string()));
        if (!m_run.PauseUnlessStopped(pause))
            return false;
    }
}

bool CFileFetch::TakeCompleteHeldFile()
{
    // A file the manifest describes is known by its digests: one as long as it that an earlier
    // run stored, even one it finished, needs no note to be taken.
    if (!m_task.expected)
        return false;
    const std::optional<FileStatus> status = GetFileStatus(m_strPath);
    const std::uint64_t size = m_task.expected->nSize;
    if (!status || status->kind != FileKind::Regular || status->facts.nSize != size)
        return false;
    try {
        CDownloadDigests digests(m_task);
        CFile file(m_strPath, CFile::modeReadWrite | CFile::modeKeep);
        TakeHeldBytes(file, size, digests);
        file.Close();
        Verify(digests, size);
    } catch (const CFetchError& e) {
        if (e.IsRefusal())
            throw;  // refused by its last check: fetched again, it would be refused again
        LogLine(m_task.szName + ": the whole file an earlier run left is fetched again, as " + e.what());
        m_held.reset();
        return false;
    } catch (const CFileException& e) {
        LogNote(m_task.szName + ": the file an earlier run left cannot be read (" + e.GetErrorMessage() +
                "), and is fetched again");
        m_held.reset();
        return false;
    }
    ForgetHeldDownload(m_strPath);
    m_run.FileSized(m_lane, size, size, m_task.szName);
    m_run.BytesArrived(m_lane, size, 0, m_task.szName);
    LogNote(m_task.szName + ": the whole file an earlier run left is kept, size and digests verified");
    return true;
}

std::variant<CFileFetch::TryEnd, CFileFetch::TryAgain> CFileFetch::Once()
{
    const std::string url = m_run.Url(m_task);
    std::optional<CInternetSession::ByteRange> range;
    if (m_held)
        range = CInternetSession::ByteRange{m_held->nBytes, m_held->strValidator};
    // The name is a file's, never part of the URL's syntax: a '?', '#' or '%' in it is encoded.
    std::unique_ptr<CHttpFile> http = m_lane.pSession->OpenURL(url, CInternetSession::Request::File, range);
    const int code = http->QueryStatus();
    const std::string status = std::to_string(code);  // for the log
    if (IsPassingStatus(code))
        return TryAgain{NotTheFile("the server answered " + status), "answered " + status, http->QueryRetryAfter()};
    const bool continued = range && http->QueryPartStart() == range->nFrom;
    if (range && !continued) {
        m_held.reset();
        // The server has no part of what is held (the file changed, or ranges are not its way):
        // what it sends now is the whole file, or the next try asks for it.
        if (code == 206 || code == 416)
            return TryAgain{NotTheFile("the server answered " + status + " for the held bytes"),
                            "answered " + status + " for the held bytes", {}, true};
        LogNote("GET " + url + ": " + status + ", the whole file comes instead of the rest of the held bytes");
    }
    if (IsErrorStatus(code) || (code == 206 && !continued))
        throw CFetchError::NotTheFile("the server answered " + status);
    const std::uint64_t from = continued ? range->nFrom : 0;
    m_strValidator = http->IsEncoded() ? std::string() : StrongValidator(*http);
    std::optional<std::uint64_t> length = http->QueryContentLength();
    if (http->IsEncoded())  // the length counts the encoded bytes; the file is what the manifest says
        length = m_task.expected ? std::optional(m_task.expected->nSize) : std::nullopt;
    else if (length)
        *length += from;

    CDownloadDigests digests(m_task);
    Received received = Receive(*http, from, length, digests);
    if (received.broke)
        return std::move(*received.broke);
    if (m_run.Stopped())
        return TryEnd::Stopped;
    try {
        Verify(digests, received.nBytes);
    } catch (const CFetchError& e) {
        if (!continued || e.IsRefusal())
            throw;
        // Bytes of two answers that do not make the file (it is gone now): it is fetched whole,
        // once.
        LogLine(m_task.szName + ": the continued file is fetched whole again, as " + e.what());
        m_held.reset();
        return TryAgain{std::current_exception(), std::string("the continued file is refused: ") + e.what(), {}, true};
    }
    ForgetHeldDownload(m_strPath);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_begun);
    LogNote("GET " + url + ": " + status + ", " + std::to_string(received.nBytes - from) + " bytes" +
            (from ? " from byte " + std::to_string(from) : std::string()) + " in " + std::to_string(elapsed.count()) +
            " ms" + (m_nRetries ? ", " + std::to_string(m_nRetries) + " retries" : std::string()) + ", " +
            (m_task.expected ? "size and digests verified" : "kept"));
    return TryEnd::Stored;
}

CFileFetch::Received CFileFetch::Receive(CHttpFile& http, std::uint64_t nFrom, std::optional<std::uint64_t> length,
                                         CDownloadDigests& digests)
{
    const std::string& name = m_task.szName;
    CFile& file = m_lane.file;
    CBlockPipeline& pipeline = m_lane.pipeline;
    char* buffer = pipeline.Buffer();
    std::size_t used = http.Read(buffer, NextRead(m_task, nFrom, kBlockSize));
    // A file the manifest describes is judged by its digest, so a real file that happens to
    // start like an error page is taken; a package has only this test.
    if (nFrom == 0 && !m_task.expected && StartsLikeErrorPage(buffer, used))
        throw CFetchError::NotTheFile("the server sent an error page");
    m_run.FileSized(m_lane, length.value_or(0), nFrom, name);

    CFileException error(0, "");
    unsigned mode = nFrom ? CFile::modeReadWrite | CFile::modeKeep : CFile::modeCreate | CFile::modeReadWrite;
    // A big file of the installation is not read again before it is moved in: it goes straight
    // to the disk. A package or a patch is read right after, from the cache.
    if (nFrom == 0 && m_task.expected && !m_task.bPatch && m_task.expected->nSize >= kDirectWriteFrom)
        mode |= CFile::modeDirect;
    if (!file.Open(m_strPath, mode, &error))
        throw error;
    if (nFrom)
        TakeHeldBytes(file, nFrom, digests);
    NoteHeldDownload(m_strPath, m_strIdentity, m_strValidator);
    // However this download ends, nothing is still being written into its file afterwards.
    struct DrainOnExit {
        CBlockPipeline& pipeline;
        ~DrainOnExit() { pipeline.Drain(); }
    } drain{pipeline};
    // SHA-256 (with the CPU's own instructions) goes with the writing, MD5 and BLAKE2b apart: the
    // two stages then carry about as much.
    auto write = [&file, &digests](const char* pData, std::size_t nLength) {
        file.Write(pData, nLength);
        file.StartWriteBack();  // the installation's flush at the end then has little left to write
        digests.UpdateSha256(pData, nLength);
    };
    auto digest = [&digests](const char* pData, std::size_t nLength) { digests.UpdateOthers(pData, nLength); };
    // The block in hand, on this thread: the last one, or one before a break.
    auto takeHere = [&] {
        pipeline.Flush();
        write(buffer, used);
        digest(buffer, used);
    };
    std::uint64_t received = nFrom + used;
    RejectLongerBody(received);
    m_run.BytesArrived(m_lane, received, used, name);
    // The events come a block of kBlockSize at a time, counted from the first, whatever each read
    // brought; the last block's when the body ends or breaks off. A stop between two blocks keeps
    // the blocks told, and drops what arrived after them.
    std::uint64_t told = received;
    auto tellBlocks = [&](bool bLast) {
        while (received - told >= kBlockSize || (bLast && received > told)) {
            const std::uint64_t block = std::min<std::uint64_t>(kBlockSize, received - told);
            told += block;
            m_run.BytesArrived(m_lane, told, block, name);
            if (m_run.Stopped()) {
                used -= static_cast<std::size_t>(std::min<std::uint64_t>(used, received - told));
                received = told;
                return;
            }
        }
    };

    // What arrived before the body broke off stays in the file, for the next try to continue.
    auto keepWhatArrived = [&](TryAgain again) {
        tellBlocks(true);
        takeHere();
        file.Close();
        m_held.reset();
        if (!m_strValidator.empty())
            m_held = HeldDownload{received, m_strValidator};
        return Received{received, std::move(again)};
    };
    try {
        // The body is read to its end; libcurl reports one that ends before its Content-Length.
        while (!m_run.Stopped()) {
            if (used == pipeline.BlockSize()) {
                pipeline.Submit(used, write, digest);
                buffer = pipeline.Buffer();
                used = 0;
            }
            std::size_t k = http.ReadSome(buffer + used, NextRead(m_task, received, pipeline.BlockSize() - used));
            if (k == 0)
                break;
            used += k;
            received += k;
            RejectLongerBody(received);
            tellBlocks(false);
        }
        tellBlocks(true);
    } catch (const CInternetException& e) {
        if (!e.IsTransient() || m_run.Stopped())
            throw;
        return keepWhatArrived(TryAgain{std::current_exception(), e.GetErrorMessage()});
    }
    if (length && received < *length && !m_run.Stopped()) {
        const std::string cause = "the body ended after " + std::to_string(received) + " of " + std::to_string(*length) + " bytes";
        return keepWhatArrived(TryAgain{NotTheFile(cause), cause});
    }
    // The last block is taken here: for the many small files that are all last block, a hand-over
    // to the stages would cost more than it saves.
    takeHere();
    http.Close();
    file.Close();
    return Received{received, std::nullopt};
}

void CFileFetch::RejectLongerBody(std::uint64_t nReceived)
{
    const std::optional<std::uint64_t> limit = m_task.SizeLimit();
    if (!limit || nReceived <= *limit)
        return;
    m_lane.pipeline.Drain();
    m_lane.file.Abort();
    Drop();
    throw CFetchError::NotTheFile("the server sends more than the " + std::to_string(*limit) + " bytes " +
                                  (m_task.expected ? "the manifest lists" : "it announced"));
}

void CFileFetch::Verify(CDownloadDigests& digests, std::uint64_t nReceived)
{
    if (m_task.expected) {
        if (std::optional<std::string> mismatch = digests.Mismatch(*m_task.expected, nReceived)) {
            Drop();
            throw CFetchError::NotTheFile("it is not the published file: " + *mismatch);
        }
    }
    if (m_run.Setup().bManifestMode && !m_task.bPatch &&
        ::strcasecmp(PathFindFileName(GetModuleFileName()).c_str(), m_task.szFile.c_str()) == 0) {
        if (std::optional<std::string> problem = NotAnExecutableForThisMachine(m_strPath)) {
            Drop();
            throw CFetchError::NotTheFile("it cannot replace the running updater: " + *problem);
        }
    }
    if (m_task.fnCheck) {
        if (std::optional<Failure> refusal = m_task.fnCheck(ToNativePath(m_strPath), digests.Blake2b())) {
            LogLine(refusal->strCause);
            Drop();
            throw CFetchError::Refused(std::move(*refusal));
        }
    }
}

void CFileFetch::Drop()
{
    DeleteFile(m_strPath);
    ForgetHeldDownload(m_strPath);
}
