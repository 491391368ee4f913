// CDownloadMgr::Run: the worker's download of every queued file into the temporary directory, on
// one lane per connection, from the servers in turn; each file's own way is a CFileFetch.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <system_error>

#include <strings.h>

#include "digest/MD5Checksum.h"
#include "download/DownloadMgr.h"
#include "download/FetchError.h"
#include "download/UpdateSession.h"
#include "platform/Log.h"
#include "platform/Url.h"
#include "sentences/Sentences.h"

void CDownloadMgr::Raise(const DownloadEvent& event)
{
    std::lock_guard lock(m_csEventLock);
    Tell(event);
}

void CDownloadMgr::Tell(const DownloadEvent& event)
{
    m_nLastEvent = KindOf(event);
    m_pSink->OnDownloadEvent(event);
}

void CDownloadMgr::FileBegun()
{
    Raise(download_event::FileBegun{});
}

void CDownloadMgr::FileSized(FetchLane& lane, std::uint64_t nFileSize, std::uint64_t nHeld, const std::string& name)
{
    std::lock_guard lock(m_csEventLock);
    // A try that starts again counts this file's bytes anew: those of the try before that it
    // does not keep leave the total.
    m_nTotalDone = m_nTotalDone - lane.nFileDone + nHeld;
    lane.nFileSize = nFileSize;
    lane.nFileDone = nHeld;
    Tell(download_event::FileSized{name, nFileSize, nHeld, m_nTotalDone});
}

void CDownloadMgr::BytesArrived(FetchLane& lane, std::uint64_t nReceived, std::uint64_t nBytes, const std::string& name)
{
    std::lock_guard lock(m_csEventLock);
    lane.nFileDone = nReceived;
    m_nTotalDone += nBytes;
    Tell(download_event::BytesArrived{name, nReceived, lane.nFileSize, m_nTotalDone});
}

std::string CDownloadMgr::TaskUrl(const tagDownloadTask& task, std::size_t nServer) const
{
    std::string url = m_servers[nServer] + EncodeUrlPath(task.szUrlPath.empty() ? task.szName : task.szUrlPath);
    if (!m_setup.bDigestQuery || !task.expected)
        return url;
    // Only what can be a digest goes into the URL, as the comparison reads it.
    const std::string digest = NormalizedDigest(task.expected->strMd5);
    if (CMD5Checksum::IsHexDigest(digest))
        url += "?md5=" + digest;
    return url;
}

void CDownloadMgr::RaiseDone(const FetchLane& lane, const std::string& name)
{
    std::lock_guard lock(m_csEventLock);
    // The counts are the finished file's, whichever file's bytes arrived last.
    Tell(download_event::FileStored{name, lane.nFileDone, lane.nFileSize, m_nTotalDone});
}

RunEnd CDownloadMgr::Run()
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
        EndRun(false, sentence::DownloadFailed((*undone)->szName));
    // A cancel that won ends the download as one, whatever came after it: the last file's arrival,
    // or a failure while the lanes were stopping. Cancel promised its caller a Cancelled event.
    const bool failed = m_end && !m_end->bCancelled;
    int downloading = kDownloading;
    if ((m_end && m_end->bCancelled) || !m_phase.compare_exchange_strong(downloading, failed ? kFailed : kStored)) {
        Raise(download_event::Cancelled{});
        return RunEnd::Cancelled;
    }
    if (failed) {
        Raise(download_event::Failed{m_end->strFailure});
        return RunEnd::Failed;
    }
    Raise(download_event::AllStored{});
    return RunEnd::Done;
}

void CDownloadMgr::EndRun(bool bCancelled, const std::string& strFailure)
{
    std::lock_guard lock(m_csEventLock);
    if (!m_end)
        m_end = EarlyEnd{bCancelled, strFailure};
    StopLanes();
}

void CDownloadMgr::StopLanes()
{
    std::lock_guard lock(m_csStopLock);
    m_bStop = true;
    m_stopped.notify_all();
}

bool CDownloadMgr::PauseUnlessStopped(std::chrono::milliseconds pause)
{
    std::unique_lock lock(m_csStopLock);
    return !m_stopped.wait_for(lock, pause, [this] { return m_bStop.load(); });
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
    FetchLane lane;
    lane.pSession = pSession;
    if (!lane.pSession && m_pSession) {
        // A connection of its own, made as the run's session was (its cancel flag is ours).
        try {
            lane.pOwnSession = OpenUpdateSession(m_pSession->GetSettings());
            lane.pSession = lane.pOwnSession.get();
        } catch (const CInternetException& e) {
            LogLine(std::string("a download connection cannot be opened: ") + e.what());  // its downloads fail with their own message
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
        lane.nFileDone = 0;  // a try on another server then counts the file's bytes anew
        switch (StoreOnServers(task, lane, failure)) {
        case TaskEnd::Stored:
            task.bDownloaded = true;
            RaiseDone(lane, task.szName);
            continue;
        case TaskEnd::Stopped:
            EndRun(true, {});
            return;
        case TaskEnd::Failed:
            EndRun(false, failure);
            return;
        }
    }
}

CDownloadMgr::TaskEnd CDownloadMgr::StoreOnServers(tagDownloadTask& task, FetchLane& lane, std::string& failure)
{
    for (;;) {
        const std::size_t server = m_nServer;
        bool serversFault = true;  // another server may have the file
        std::string cause;         // for standard error and the log, when the failure's own
        try {
            return CFileFetch(task, lane, *this).Store() ? TaskEnd::Stored : TaskEnd::Stopped;
        } catch (const CInternetException& e) {
            if (e.IsCancel() && m_bStop) {
                lane.file.Abort();
                return TaskEnd::Stopped;
            }
            failure = e.GetErrorMessage();
        } catch (const CFileException& e) {
            failure = e.GetErrorMessage();
            serversFault = false;
        } catch (const CFetchError& e) {
            failure = e.IsRefusal() ? e.GetFailure().strSentence : sentence::DownloadFailed(task.szName);
            if (!e.IsRefusal())  // a refusal's cause is in the log already
                cause = e.what();
        } catch (const std::exception& e) {
            failure = sentence::DownloadFailed(task.szName);
            cause = e.what();
        } catch (...) {
            failure = sentence::DownloadFailed(task.szName);
        }
        lane.file.Abort();
        if (!cause.empty())
            LogLine("GET " + TaskUrl(task, server) + ": " + task.szName + " failed, as " + cause);
        LogNote("GET " + TaskUrl(task, server) + ": failed: " + failure);
        if (!serversFault || m_bStop || !TakeOverFrom(server))
            return TaskEnd::Failed;
    }
}

bool CDownloadMgr::TakeOverFrom(std::size_t nFailedServer)
{
    std::lock_guard lock(m_csEventLock);
    if (m_nServer != nFailedServer)
        return true;  // another lane saw the same server fail: the next one has taken over already
    if (m_nServersLeft == 0)
        return false;
    --m_nServersLeft;
    m_nServer = (nFailedServer + 1) % m_servers.size();
    LogLine(m_servers[nFailedServer] + " failed a file; " + m_servers[m_nServer] + " takes over for the rest of the run");
    return true;
}
