#pragma once
// The download engine: the list of files to fetch, and the one worker thread that fetches them
// into the temporary directory and verifies them. It only downloads: what is done with the files
// (the installation) is its owner's, the update run (run/UpdateRun.h), once the worker has ended.
//
// The owner initialises the manager, queues every task and calls Start once; the manager starts
// its worker, which runs Run, reporting each step of the download to the sink. Cancel asks the
// worker to stop; LastEvent tells how far the download has come; WaitForEnd waits for the worker
// and tells how it ended. The destructor waits for the worker.
//
// Errors in the engine: what a file's fetch throws (download/FileFetch.h) is caught here, once per
// file, and becomes what the program tells: a Failed event with its sentence, the cause in the
// log, and the run's RunEnd. Nothing in the engine shows a message.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "download/DownloadSetup.h"
#include "download/DownloadSink.h"
#include "download/DownloadTask.h"
#include "download/FileFetch.h"
#include "platform/Internet.h"
#include "platform/Thread.h"

// How a download ended: every file stored, a file failed, or a cancel stopped it.
enum class RunEnd : std::uint32_t { Done = 0, Failed = 1, Cancelled = 2 };

class CDownloadMgr : private IFetchRun {
public:
    using TaskList = std::vector<std::unique_ptr<tagDownloadTask>>;

    CDownloadMgr();
    // Waits for the worker, if there is one, before anything it uses goes away.
    virtual ~CDownloadMgr();
    CDownloadMgr(const CDownloadMgr&) = delete;
    CDownloadMgr& operator=(const CDownloadMgr&) = delete;

    // Stores the sink and the setup and creates the temporary directory (one level). False for a
    // null sink (nothing changes).
    bool Initialize(IDownloadSink* pSink, const DownloadSetup& setup);
    // The package the run asked for is not there: the manifest's files are fetched instead.
    void UseManifestMode() { m_setup.bManifestMode = true; }
    // The servers, strBaseURL first, each ending in '/'.
    const std::vector<std::string>& GetServers() const { return m_servers; }
    // The files come from this server (an index into GetServers) first: the one that served the
    // manifest.
    void UseServerFirst(std::size_t nServer);

    // Queues one file by its relative name; false only for a null name. A file the manifest
    // describes is verified against that description before it is kept; the check, when given,
    // runs last on the complete file.
    bool AddTask(const char* lpszName);
    bool AddTask(const char* lpszName, std::optional<tagExpectedFile> expected, DownloadCheck fnCheck = {},
                 std::optional<std::uint64_t> nLimit = std::nullopt);
    // A manifest's file, asked for under the name the manifest lists, which is not the name it is
    // installed under where Windows drops the dots and blanks of its parts ("readme." is readme).
    void AddListedFile(const std::string& strName, const std::string& strListedName, tagExpectedFile expected);
    void RemoveAllTasks();

    // Starts the worker on the queued tasks, once; false when it was started before. Its result
    // is how the download ended (WaitForEnd).
    bool Start();
    // Asks the worker to stop while the download goes on (or, before Start, keeps it from
    // beginning): it ends within a second with a Cancelled event. False, and nothing changes, once
    // every file is stored or the download has failed: there is nothing left to stop. Any thread
    // may cancel.
    bool Cancel();
    bool CancelRequested() const { return m_bCancel; }
    // The kind of the event raised last (0 before the first); DOWNLOAD_EVENT_INSTALLING once every
    // file is stored.
    int LastEvent() const { return m_nLastEvent; }
    // A worker was started and is still downloading: cancelling it means something. Any thread
    // may ask.
    bool Downloading() const;
    // Waits for the worker; its result, or nothing when there is none or it did not end in time.
    std::optional<RunEnd> WaitForWorker(std::chrono::milliseconds timeout);
    // Waits for the worker started before, however long it takes, and tells how it ended.
    RunEnd WaitForEnd();
    // Waits for the worker to end. A class that overrides Run calls it in its destructor: the
    // worker calls into it.
    void Join();

    const TaskList& GetTasks() const { return m_arrTasks; }
    const DownloadSetup& GetSetup() const { return m_setup; }
    CInternetSession* GetSession() const { return m_pSession; }
    // Where the task's download is stored in the temporary directory.
    std::string DownloadPath(const tagDownloadTask& task) const;
    // For after an installation: what earlier runs downloaded and no task of this one needs (a
    // file no longer listed, a patch passed over) leaves the temporary directory, unless that is
    // the installation.
    void RemoveStaleDownloads() const;

    // Downloads every task into the temporary directory, reporting each step: Done when all are
    // stored (after AllStored), Failed after a Failed event, Cancelled after a Cancelled one. With one connection the
    // tasks go in queue order; with more, each connection takes the next task when it is free,
    // the first failure stops the others, and the events (one at a time) show the file whose
    // bytes arrived last. Runs on the worker thread.
    virtual RunEnd Run();

private:
    // Numbers the task, splits its name, gives it a temporary name of its own and queues it.
    void Queue(std::unique_ptr<tagDownloadTask> task);

    // Why the download ended before every file arrived.
    struct EarlyEnd {
        bool bCancelled = false;
        std::string strFailure;  // the first failure, for the player
    };

    // Sets m_nLastEvent, then tells the sink; one event at a time.
    void Raise(const DownloadEvent& event);
    // The same, with m_csEventLock already held.
    void Tell(const DownloadEvent& event);
    // The lane's file arrived whole (FileStored), with the counts of that file.
    void RaiseDone(const FetchLane& lane, const std::string& name);
    // One connection's loop: the next task while there is one and nothing ended the run. Without
    // a session, the lane opens one of its own with the run's session's limits.
    void RunLane(CInternetSession* pSession);
    void RunLaneTasks(CInternetSession* pSession);
    // Records the first reason the run ends early, and stops every lane.
    void EndRun(bool bCancelled, const std::string& strFailure);
    // Every lane ends, and every pause with it.
    void StopLanes();
    // Where the task is asked for on the given server.
    std::string TaskUrl(const tagDownloadTask& task, std::size_t nServer) const;
    enum class TaskEnd { Stored, Stopped, Failed };
    // Stores the task from the server in use, and from the next ones while a server fails it;
    // the failure that ended it goes to `failure`.
    TaskEnd StoreOnServers(tagDownloadTask& task, FetchLane& lane, std::string& failure);
    // The server failed a file: the next one takes over, unless every one has failed. False then.
    bool TakeOverFrom(std::size_t nFailedServer);

    // What each file's fetch needs of the run (download/FileFetch.h).
    const DownloadSetup& Setup() const override { return m_setup; }
    std::string Url(const tagDownloadTask& task) const override { return TaskUrl(task, m_nServer); }
    void FileBegun() override;
    void FileSized(FetchLane& lane, std::uint64_t nFileSize, std::uint64_t nHeld, const std::string& name) override;
    void BytesArrived(FetchLane& lane, std::uint64_t nReceived, std::uint64_t nBytes, const std::string& name) override;
    bool Stopped() const override { return m_bStop; }
    bool PauseUnlessStopped(std::chrono::milliseconds pause) override;

    IDownloadSink* m_pSink = nullptr;
    DownloadSetup m_setup;
    CInternetSession* m_pSession = nullptr;
    std::vector<std::string> m_servers;
    std::atomic<std::size_t> m_nServer{0};  // the one in use
    std::size_t m_nServersLeft = 0;         // that may still take over

    std::mutex m_csTaskLock;  // the task list
    TaskList m_arrTasks;
    int m_nNextTaskID = 0;
    std::set<std::string> m_tempNames;  // the temporary names the queued tasks take

    std::mutex m_csEventLock;  // events, the counts and the run's end
    std::uint64_t m_nTotalDone = 0;  // the bytes of the whole run, for the events
    std::atomic<int> m_nLastEvent{0};
    std::atomic<std::size_t> m_nNextTask{0};
    std::optional<EarlyEnd> m_end;
    std::atomic<bool> m_bCancel{false};
    std::mutex m_csStopLock;  // for the pauses' wait on m_bStop
    std::condition_variable m_stopped;
    std::atomic<bool> m_bStop{false};  // a cancel or a failure: every lane ends, every wait too
    std::atomic<bool> m_bStarted{false};  // for any thread, where m_hThread is the starter's
    // Where the download stands, changed only by compare-and-swap: a cancel and the storing of the
    // last file cannot both win.
    enum Phase : int { kDownloading, kCancelled, kStored, kFailed };
    std::atomic<int> m_phase{kDownloading};
    std::unique_ptr<CThread> m_hThread;  // last: it goes first, before anything the worker uses
};

// Creates every directory of the path, from the left, at each '\' or '/'; existing ones are passed
// over. Returns whether the last one was made by this call.
bool CreateDirectoryTree(std::string strPath);
