// CDownloadMgr::StoreTask: one file's download into the temporary directory. A passing failure
// is tried again after a pause, from the byte reached; bytes an earlier run left are continued the
// same way; the complete file is verified before it is kept.

#include <algorithm>
#include <cstring>
#include <string_view>

#include <strings.h>

#include "download/DownloadLane.h"
#include "download/HeldDownload.h"
#include "download/TempNames.h"
#include "download/Verification.h"
#include "platform/Executable.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/Path.h"

using namespace download_lane;

namespace {

// Texts a server's error page starts with.
constexpr std::string_view kErrorPageMarkers[] = {"<html>", "<!DOCTYPE HTML PUBLIC"};

// What another try may not meet. `failure` is what ends the download when no try is left.
struct PassingFailure {
    std::exception_ptr failure;
    std::string strCause;  // for the log
    std::optional<std::chrono::seconds> retryAfter{};
    bool bAtOnce = false;  // a fresh start, which needs no pause
};

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

// How much the next read may ask for: a download is never read beyond one byte more than its
// size limit, which is how a longer body shows.
std::size_t NextRead(const tagDownloadTask& task, std::uint64_t received)
{
    const std::optional<std::uint64_t> limit = task.SizeLimit();
    if (!limit)
        return kBlockSize;
    const std::uint64_t allowed = *limit + 1 - std::min(received, *limit + 1);
    return static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize, allowed));
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

void DropTemporaryFile(const std::string& path)
{
    DeleteFile(path);
    ForgetHeldDownload(path);
}

// Feeds the first nBytes of the open file to the digests, then leaves the file to be written on
// from there.
void TakeHeldBytes(CFile& file, std::uint64_t nBytes, CDownloadDigests& digests)
{
    digests.UpdateFromFile(file, nBytes);
    file.KeepFirst(nBytes);
}

}  // namespace

// One file's download in hand: where it goes and what of it is held.
struct CDownloadMgr::FileFetch {
    std::string strPath;
    std::string strIdentity;
    std::optional<HeldDownload> held;  // bytes in the file that a request may continue
    std::string strValidator;          // of the answer in hand
    unsigned nRetries = 0;
    std::chrono::steady_clock::time_point begun = std::chrono::steady_clock::now();
};

bool CDownloadMgr::StoreTask(tagDownloadTask& task, Lane& lane)
{
    Raise(download_event::FileBegun{});
    if (!lane.pSession)
        throw NotTheFile{};
    if (task.expected && task.expected->patch && !PathFileExists(TempFilePath(m_setup.strTempDir, task, true))) {
        if (StoreFromPatch(task, lane))
            return true;
        if (m_bStop)
            return false;
        lane.nFileDone = 0;  // the patch's bytes stay in the total: they were fetched
    }
    return FetchWhole(task, lane);
}

bool CDownloadMgr::FetchWhole(tagDownloadTask& task, Lane& lane)
{
    FileFetch fetch;
    fetch.strPath = TempFilePath(m_setup.strTempDir, task, m_setup.bManifestMode);
    fetch.strIdentity = Identity(task);
    fetch.held = FindHeldDownload(fetch.strPath, fetch.strIdentity);
    if (fetch.held && task.SizeLimit() && fetch.held->nBytes > *task.SizeLimit())
        fetch.held.reset();
    if (TakeCompleteHeldFile(task, lane, fetch))
        return true;
    const RetryPolicy& policy = m_setup.retries;
    for (;;) {
        std::optional<PassingFailure> passing;
        try {
            return FetchOnce(task, lane, fetch);
        } catch (const PassingFailure& failure) {
            passing = failure;
        } catch (const CInternetException& e) {
            if (!e.IsTransient() || m_bStop)
                throw;
            passing = PassingFailure{std::current_exception(), e.GetErrorMessage()};
        }
        if (fetch.nRetries >= policy.pauses.size())
            std::rethrow_exception(passing->failure);
        const std::chrono::milliseconds pause =
            passing->bAtOnce ? std::chrono::milliseconds(0) : PauseBeforeRetry(policy, fetch.nRetries, passing->retryAfter);
        ++fetch.nRetries;
        LogNote("GET " + TaskUrl(task, m_nServer) + ": " + passing->strCause + "; try " + std::to_string(fetch.nRetries + 1) +
                " in " + std::to_string(pause.count()) + " ms" +
                (fetch.held ? ", from byte " + std::to_string(fetch.held->nBytes) : std::string()));
        if (!PauseUnlessStopped(pause))
            return false;
    }
}

bool CDownloadMgr::TakeCompleteHeldFile(tagDownloadTask& task, Lane& lane, FileFetch& fetch)
{
    // A file the manifest describes is known by its digests: one as long as it that an earlier
    // run stored, even one it finished, needs no note to be taken.
    if (!task.expected)
        return false;
    const std::optional<FileStatus> status = GetFileStatus(fetch.strPath);
    const std::uint64_t size = task.expected->nSize;
    if (!status || status->kind != FileKind::Regular || status->facts.nSize != size)
        return false;
    try {
        CDownloadDigests digests(task);
        CFile file(fetch.strPath, CFile::modeReadWrite | CFile::modeKeep);
        TakeHeldBytes(file, size, digests);
        file.Close();
        VerifyTask(task, digests, size, fetch.strPath);
    } catch (const NotTheFile&) {
        LogNote(task.szName + ": the whole file an earlier run left is not the published one, and is fetched again");
        fetch.held.reset();
        return false;
    } catch (const CFileException& e) {
        LogNote(task.szName + ": the file an earlier run left cannot be read (" + e.GetErrorMessage() + "), and is fetched again");
        fetch.held.reset();
        return false;
    }
    ForgetHeldDownload(fetch.strPath);
    RaiseTotal(lane, size, size, task.szName);
    RaiseProgress(lane, size, 0, task.szName);
    LogNote(task.szName + ": the whole file an earlier run left is kept, size and digests verified");
    return true;
}

bool CDownloadMgr::FetchOnce(tagDownloadTask& task, Lane& lane, FileFetch& fetch)
{
    const std::string url = TaskUrl(task, m_nServer);
    std::optional<CInternetSession::ByteRange> range;
    if (fetch.held)
        range = CInternetSession::ByteRange{fetch.held->nBytes, fetch.held->strValidator};
    // The name is a file's, never part of the URL's syntax: a '?', '#' or '%' in it is encoded.
    std::unique_ptr<CHttpFile> http = lane.pSession->OpenURL(url, CInternetSession::Request::File, range);
    const int code = http->QueryStatus();
    const std::string status = std::to_string(code);  // for the log
    if (IsPassingStatus(code))
        throw PassingFailure{std::make_exception_ptr(NotTheFile{}), "answered " + status, http->QueryRetryAfter()};
    const bool continued = range && http->QueryPartStart() == range->nFrom;
    if (range && !continued) {
        fetch.held.reset();
        // The server has no part of what is held (the file changed, or ranges are not its way):
        // what it sends now is the whole file, or the next try asks for it.
        if (code == 206 || code == 416)
            throw PassingFailure{std::make_exception_ptr(NotTheFile{}), "answered " + status + " for the held bytes", {}, true};
        LogNote("GET " + url + ": " + status + ", the whole file comes instead of the rest of the held bytes");
    }
    if (IsErrorStatus(code) || (code == 206 && !continued))
        throw NotTheFile{};
    const std::uint64_t from = continued ? range->nFrom : 0;
    fetch.strValidator = http->IsEncoded() ? std::string() : StrongValidator(*http);
    std::optional<std::uint64_t> length = http->QueryContentLength();
    if (http->IsEncoded())  // the length counts the encoded bytes; the file is what the manifest says
        length = task.expected ? std::optional(task.expected->nSize) : std::nullopt;
    else if (length)
        *length += from;

    CDownloadDigests digests(task);
    const std::uint64_t received = ReceiveBody(task, lane, fetch, *http, from, length, digests);
    if (m_bStop)
        return false;
    try {
        VerifyTask(task, digests, received, fetch.strPath);
    } catch (const NotTheFile&) {
        if (!continued)
            throw;
        // Bytes of two answers that do not make the file (it is gone now): it is fetched whole,
        // once.
        fetch.held.reset();
        throw PassingFailure{std::current_exception(), "the continued file is not the published one", {}, true};
    }
    ForgetHeldDownload(fetch.strPath);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - fetch.begun);
    LogNote("GET " + url + ": " + status + ", " + std::to_string(received - from) + " bytes" +
            (from ? " from byte " + std::to_string(from) : std::string()) + " in " + std::to_string(elapsed.count()) +
            " ms" + (fetch.nRetries ? ", " + std::to_string(fetch.nRetries) + " retries" : std::string()) + ", " +
            (task.expected ? "size and digests verified" : "kept"));
    return true;
}

std::uint64_t CDownloadMgr::ReceiveBody(tagDownloadTask& task, Lane& lane, FileFetch& fetch, CHttpFile& http,
                                        std::uint64_t nFrom, std::optional<std::uint64_t> length,
                                        CDownloadDigests& digests)
{
    const std::string& name = task.szName;
    CFile& file = lane.file;
    std::vector<char>& buffer = lane.buffer;
    CBackgroundWriter& writer = lane.writer;
    std::size_t used = http.Read(buffer.data(), NextRead(task, nFrom));
    // A file the manifest describes is judged by its digest, so a real file that happens to
    // start like an error page is taken; a package has only this test.
    if (nFrom == 0 && !task.expected && StartsLikeErrorPage(buffer.data(), used))
        throw NotTheFile{};
    RaiseTotal(lane, length.value_or(0), nFrom, name);

    CFileException error(0, "");
    const unsigned mode = nFrom ? CFile::modeReadWrite | CFile::modeKeep : CFile::modeCreate | CFile::modeReadWrite;
    if (!file.Open(fetch.strPath, mode, &error))
        throw error;
    if (nFrom)
        TakeHeldBytes(file, nFrom, digests);
    NoteHeldDownload(fetch.strPath, fetch.strIdentity, fetch.strValidator);
    // However this download ends, nothing is still being written into its file afterwards.
    struct DrainOnExit {
        CBackgroundWriter& writer;
        ~DrainOnExit() { writer.Drain(); }
    } drain{writer};
    // The second thread writes and takes most digests; SHA-256 is taken here, so that the two
    // threads carry about as much.
    auto consume = [&file, &digests](const char* pData, std::size_t nLength) {
        file.Write(pData, nLength);
        file.StartWriteBack();  // the installation's flush at the end then has little left to write
        digests.UpdateOthers(pData, nLength);
    };
    std::uint64_t received = nFrom + used;
    RejectLongerBody(task, received, file, fetch.strPath, writer);
    RaiseProgress(lane, received, used, name);

    // What arrived before the body broke off stays in the file, for the next try to continue.
    auto keepWhatArrived = [&] {
        writer.Flush();
        consume(buffer.data(), used);
        file.Close();
        fetch.held.reset();
        if (!fetch.strValidator.empty())
            fetch.held = HeldDownload{received, fetch.strValidator};
    };
    try {
        // The body is read to its end; libcurl reports one that ends before its Content-Length.
        while (!m_bStop) {
            if (used + kBlockSize > buffer.size()) {
                digests.UpdateSha256(buffer.data(), used);
                writer.Submit(buffer, used, consume);
                used = 0;
            }
            std::size_t k = http.Read(buffer.data() + used, NextRead(task, received));
            if (k == 0)
                break;
            used += k;
            received += k;
            RejectLongerBody(task, received, file, fetch.strPath, writer);
            RaiseProgress(lane, received, k, name);
        }
    } catch (const CInternetException& e) {
        if (!e.IsTransient() || m_bStop)
            throw;
        keepWhatArrived();
        throw PassingFailure{std::current_exception(), e.GetErrorMessage()};
    }
    if (length && received < *length && !m_bStop) {
        keepWhatArrived();
        throw PassingFailure{std::make_exception_ptr(NotTheFile{}),
                             "the body ended after " + std::to_string(received) + " of " + std::to_string(*length) + " bytes"};
    }
    // The last piece is written here: for the many small files that are all last piece, a hand-over
    // to the second thread would cost more than it saves.
    writer.Flush();
    digests.UpdateSha256(buffer.data(), used);
    consume(buffer.data(), used);
    http.Close();
    file.Close();
    return received;
}

void CDownloadMgr::RejectLongerBody(const tagDownloadTask& task, std::uint64_t received, CFile& file,
                                    const std::string& path, CBackgroundWriter& writer)
{
    const std::optional<std::uint64_t> limit = task.SizeLimit();
    if (!limit || received <= *limit)
        return;
    LogLine(task.szName + ": the server sends more than the " + std::to_string(*limit) + " bytes " +
            (task.expected ? "the manifest lists" : "it announced"));
    writer.Drain();
    file.Abort();
    DropTemporaryFile(path);
    throw NotTheFile{};
}

void CDownloadMgr::VerifyTask(const tagDownloadTask& task, CDownloadDigests& digests, std::uint64_t received,
                              const std::string& path)
{
    if (task.expected) {
        if (std::string mismatch = digests.Mismatch(*task.expected, received); !mismatch.empty()) {
            LogLine(task.szName + " is not the published file: " + mismatch);
            DropTemporaryFile(path);
            throw NotTheFile{};
        }
    }
    if (m_setup.bManifestMode && task.szUrlPath.empty() &&
        ::strcasecmp(PathFindFileName(GetModuleFileName()).c_str(), task.szFile.c_str()) == 0) {
        if (std::string problem = NotAnExecutableForThisMachine(path); !problem.empty()) {
            LogLine(task.szName + " cannot replace the running updater: " + problem);
            DropTemporaryFile(path);
            throw NotTheFile{};
        }
    }
    if (task.fnCheck) {
        if (std::string refusal = task.fnCheck(ToNativePath(path), digests.Blake2b()); !refusal.empty()) {
            DropTemporaryFile(path);
            throw Refused{refusal};
        }
    }
}
