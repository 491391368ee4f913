// CDownloadMgr::Run: the worker's download of every queued file into the temporary directory.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <system_error>

#include <strings.h>

#include "digest/MD5Checksum.h"
#include "download/BackgroundWriter.h"
#include "download/DownloadMgr.h"
#include "download/TempNames.h"
#include "download/UpdateSession.h"
#include "download/Verification.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/Path.h"
#include "platform/Url.h"

namespace {

constexpr std::size_t kBlockSize = 8192;
// Blocks are read one at a time (one progress event each) but written in groups: a write call
// per block costs a third of the throughput. A group is written and hashed on a second thread
// while the next one arrives.
constexpr std::size_t kBlocksPerWrite = 32;

// Texts a server's error page starts with.
constexpr std::string_view kErrorPageMarkers[] = {"<html>", "<!DOCTYPE HTML PUBLIC"};

// The server answered, but not with the file.
struct NotTheFile {};
// The file arrived whole and is refused: the text says why, in one sentence for the player.
struct Refused {
    std::string strSentence;
};

bool IsErrorStatus(const std::string& strStatus)
{
    return std::atoi(strStatus.c_str()) >= 400;
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

}  // namespace

// One connection's share of the run: its session, and the file, buffer and writer of the
// download in hand.
struct CDownloadMgr::Lane {
    CInternetSession* pSession = nullptr;
    std::unique_ptr<CInternetSession> pOwnSession;
    CFile file;
    std::vector<char> buffer = std::vector<char>(kBlockSize * kBlocksPerWrite);
    CBackgroundWriter writer;
    std::uint64_t nFileSize = 0;  // of the download in hand, as announced
    std::uint64_t nFileDone = 0;
};

void CDownloadMgr::Raise(std::uint32_t dwParam1, std::uint32_t dwParam2, int nEvent, const char* lpszText)
{
    std::lock_guard lock(m_csEventLock);
    Tell(dwParam1, dwParam2, nEvent, lpszText);
}

void CDownloadMgr::Tell(std::uint32_t dwParam1, std::uint32_t dwParam2, int nEvent, const char* lpszText)
{
    m_nLastEvent = nEvent;
    m_pSink->OnDownloadEvent(dwParam1, dwParam2, nEvent, lpszText);
}

void CDownloadMgr::RaiseTotal(Lane& lane, std::uint64_t nFileSize, const char* lpszName)
{
    std::lock_guard lock(m_csEventLock);
    lane.nFileSize = nFileSize;
    lane.nFileDone = 0;
    m_counts.nFileDone = 0;
    m_counts.nFileSize = nFileSize;
    Tell(0, static_cast<std::uint32_t>(nFileSize), DOWNLOAD_EVENT_TOTAL, lpszName);
}

void CDownloadMgr::RaiseProgress(Lane& lane, std::uint64_t nReceived, std::uint64_t nBytes, const char* lpszName)
{
    std::lock_guard lock(m_csEventLock);
    lane.nFileDone = nReceived;
    // With several connections the counts show the file whose bytes arrived last.
    m_counts.nFileDone = nReceived;
    m_counts.nFileSize = lane.nFileSize;
    m_counts.nTotalDone += nBytes;
    const auto low32 = [](std::uint64_t count) { return static_cast<std::uint32_t>(count); };
    Tell(low32(nReceived), low32(m_counts.nTotalDone), DOWNLOAD_EVENT_PROGRESS, lpszName);
}

std::string CDownloadMgr::TaskUrl(const tagDownloadTask& task) const
{
    std::string url = m_setup.strBaseURL + EncodeUrlPath(task.szName);
    if (!m_setup.bDigestQuery || !task.expected)
        return url;
    // Only what can be a digest goes into the URL, as the comparison reads it.
    const std::string digest = NormalizedDigest(task.expected->strMd5);
    if (CMD5Checksum::IsHexDigest(digest))
        url += "?md5=" + digest;
    return url;
}

void CDownloadMgr::RaiseDone(const Lane& lane, const char* lpszName)
{
    std::lock_guard lock(m_csEventLock);
    // The counts are the finished file's, whichever file's bytes arrived last.
    m_counts.nFileDone = lane.nFileDone;
    m_counts.nFileSize = lane.nFileSize;
    Tell(0, 0, DOWNLOAD_EVENT_RESET, lpszName);
}

int CDownloadMgr::Run()
{
    // A cancel that came before is kept: the lanes end at once.
    m_nNextTask = 0;
    m_end.reset();
    const std::size_t lanes = std::clamp<std::size_t>(m_setup.nConnections, 1, std::max<std::size_t>(1, m_arrTasks.size()));
    {
        std::vector<std::jthread> others;
        try {
            for (std::size_t i = 1; i < lanes; ++i)
                others.emplace_back([this] { RunLane(nullptr); });
        } catch (const std::system_error& e) {
            LogLine(std::string("fewer connections than asked for: ") + e.what());  // the others take their share
        }
        RunLane(m_pSession);
    }
    // A task that no lane finished without a reason (a lane that could not even begin) fails the
    // run too: nothing is installed unless everything arrived.
    const auto undone = std::find_if(m_arrTasks.begin(), m_arrTasks.end(), [](const auto& task) { return !task->bDownloaded; });
    if (undone != m_arrTasks.end())
        EndRun(false, "下载 " + (*undone)->szName + " 文件失败");
    int downloading = kDownloading;
    if (m_end && m_end->bCancelled) {
        Raise(0, 0, DOWNLOAD_EVENT_CLOSE, nullptr);
        return 2;
    }
    if (m_end) {
        m_phase = kFailed;
        Raise(0, 0, DOWNLOAD_EVENT_ERROR, m_end->strFailure.c_str());
        return 1;
    }
    if (!m_phase.compare_exchange_strong(downloading, kInstalling)) {
        Raise(0, 0, DOWNLOAD_EVENT_CLOSE, nullptr);  // cancelled after the last file arrived
        return 2;
    }
    Raise(0, 0, DOWNLOAD_EVENT_INSTALLING, nullptr);
    return 0;
}

void CDownloadMgr::EndRun(bool bCancelled, const std::string& strFailure)
{
    std::lock_guard lock(m_csEventLock);
    if (!m_end)
        m_end = RunEnd{bCancelled, strFailure};
    m_bStop = true;
}

void CDownloadMgr::RunLane(CInternetSession* pSession)
{
    try {
        RunLaneTasks(pSession);
    } catch (const std::exception& e) {
        // A lane that cannot run (no thread for its writer, no memory) leaves its tasks undone;
        // the run then fails on them.
        LogLine(std::string("a download connection ended: ") + e.what());
    }
}

void CDownloadMgr::RunLaneTasks(CInternetSession* pSession)
{
    Lane lane;
    lane.pSession = pSession;
    if (!lane.pSession) {
        try {
            lane.pOwnSession = OpenUpdateSession();
            lane.pOwnSession->SetCancelFlag(&m_bStop);
            lane.pSession = lane.pOwnSession.get();
        } catch (const CInternetException&) {
            // its downloads fail with their own message
        }
    }
    for (std::size_t i; (i = m_nNextTask++) < m_arrTasks.size();) {
        // Only a cancel stops a lane before another lane's end did.
        if (m_bStop) {
            EndRun(true, {});
            return;
        }
        tagDownloadTask& task = *m_arrTasks[i];
        std::string failure;
        try {
            if (!StoreTask(task, lane)) {
                EndRun(true, {});
                return;
            }
            task.bDownloaded = true;
            RaiseDone(lane, task.szName.c_str());
            continue;
        } catch (const CInternetException& e) {
            if (e.IsCancel() && m_bStop) {
                lane.file.Abort();
                EndRun(true, {});
                return;
            }
            failure = e.GetErrorMessage();
        } catch (const CFileException& e) {
            failure = e.GetErrorMessage();
        } catch (const Refused& refused) {
            failure = refused.strSentence;
        } catch (...) {
            failure = "下载 " + task.szName + " 文件失败";
        }
        lane.file.Abort();
        LogNote("GET " + TaskUrl(task) + ": failed: " + failure);
        EndRun(false, failure);
        return;
    }
}

bool CDownloadMgr::StoreTask(tagDownloadTask& task, Lane& lane)
{
    const char* name = task.szName.c_str();
    CFile& file = lane.file;
    std::vector<char>& buffer = lane.buffer;
    CBackgroundWriter& writer = lane.writer;
    Raise(0, 0, DOWNLOAD_EVENT_FILE_BEGIN, nullptr);
    const auto begun = std::chrono::steady_clock::now();
    if (!lane.pSession)
        throw NotTheFile{};
    // The name is a file's, never part of the URL's syntax: a '?', '#' or '%' in it is encoded.
    std::unique_ptr<CHttpFile> http = lane.pSession->OpenURL(TaskUrl(task));
    std::optional<std::uint64_t> length = http->QueryContentLength();
    if (http->IsEncoded())  // the length counts the encoded bytes; the file is what the manifest says
        length = task.expected ? std::optional(task.expected->nSize) : std::nullopt;
    const std::string status = http->QueryStatusCode();
    if (IsErrorStatus(status))
        throw NotTheFile{};

    std::size_t used = http->Read(buffer.data(), NextRead(task, 0));
    // A file the manifest describes is judged by its digest, so a real file that happens to
    // start like an error page is taken; a package has only this test.
    if (!task.expected && StartsLikeErrorPage(buffer.data(), used))
        throw NotTheFile{};
    RaiseTotal(lane, length.value_or(0), name);

    const std::string path = TempFilePath(m_setup.strTempDir, task, m_setup.bManifestMode);
    CFileException error(0, "");
    if (!file.Open(path, CFile::modeCreate | CFile::modeReadWrite, &error))
        throw error;
    CDownloadDigests digests(task);
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
    std::uint64_t received = used;
    RejectLongerBody(task, received, file, path, writer);
    RaiseProgress(lane, received, used, name);

    // The body is read to its end; libcurl reports one that ends before its Content-Length.
    while (!m_bStop) {
        if (used + kBlockSize > buffer.size()) {
            digests.UpdateSha256(buffer.data(), used);
            writer.Submit(buffer, used, consume);
            used = 0;
        }
        std::size_t k = http->Read(buffer.data() + used, NextRead(task, received));
        if (k == 0)
            break;
        used += k;
        received += k;
        RejectLongerBody(task, received, file, path, writer);
        RaiseProgress(lane, received, k, name);
    }
    // The last piece is written here: for the many small files that are all last piece, a hand-over
    // to the second thread would cost more than it saves.
    writer.Flush();
    digests.UpdateSha256(buffer.data(), used);
    consume(buffer.data(), used);
    http->Close();
    file.Close();
    if (m_bStop)
        return false;
    if (length && received < *length)
        throw NotTheFile{};  // ended before its announced length
    VerifyTask(task, digests, received, path);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begun);
    LogNote("GET " + TaskUrl(task) + ": " + status + ", " + std::to_string(received) + " bytes in " +
            std::to_string(elapsed.count()) + " ms, " + (task.expected ? "size and digests verified" : "kept"));
    return true;
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
    Discard(file, path);
    throw NotTheFile{};
}

void CDownloadMgr::VerifyTask(const tagDownloadTask& task, CDownloadDigests& digests, std::uint64_t received,
                              const std::string& path)
{
    if (task.expected) {
        if (std::string mismatch = digests.Mismatch(*task.expected, received); !mismatch.empty()) {
            LogLine(task.szName + " is not the published file: " + mismatch);
            DeleteFile(path);
            throw NotTheFile{};
        }
    }
    if (m_setup.bManifestMode && ::strcasecmp(PathFindFileName(GetModuleFileName()).c_str(), task.szFile.c_str()) == 0) {
        if (std::string problem = NotAnExecutableForThisMachine(path); !problem.empty()) {
            LogLine(task.szName + " cannot replace the running updater: " + problem);
            DeleteFile(path);
            throw NotTheFile{};
        }
    }
    if (task.fnCheck) {
        if (std::string refusal = task.fnCheck(ToNativePath(path), digests.Blake2b()); !refusal.empty()) {
            DeleteFile(path);
            throw Refused{refusal};
        }
    }
}

void CDownloadMgr::Discard(CFile& file, const std::string& path)
{
    file.Abort();
    DeleteFile(path);
}
