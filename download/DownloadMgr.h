#pragma once
// The download engine: the list of files to fetch, and the one worker thread that fetches them
// into the temporary directory and verifies them, then takes the owner's next step with them
// (the installation, install/Installer.h).
//
// The owner initialises the manager, queues every task and calls Start once; the manager starts
// its worker, which runs Run, then the setup's step after a complete run, reporting each step of
// the download to the sink. Cancel asks the worker to stop; LastEvent tells how far the run has
// come. The destructor waits for the worker.
//
// Errors in the engine: the platform's exceptions are caught here and become what the program
// tells, a Failed event with its sentence (and the cause on standard error) or a result code;
// nothing in the engine shows a message.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "download/DownloadSink.h"
#include "download/DownloadTask.h"
#include "download/RetryPolicy.h"
#include "platform/File.h"
#include "platform/Internet.h"
#include "platform/Thread.h"

class CBackgroundWriter;
class CDownloadDigests;

// Where a run's files come from and go, and what they are.
struct DownloadSetup {
    std::string strBaseURL;
    std::string strTempDir;
    std::string strInstallDir;
    bool bManifestMode = true;  // files from the manifest; false: one zip package
    // The run's HTTP session, which must outlive the manager; without one every download fails.
    CInternetSession* pSession = nullptr;
    // How many files are downloaded at once, each over a connection of its own (the first over
    // the session's, the others over sessions with its limits); 1: one after the other, in
    // queue order.
    unsigned nConnections = 1;
    // A file the manifest describes is asked for with its digest as a query ("town.dat?md5=..."):
    // a file keeps its name from one release to the next, and a cache on the way (a CDN, a proxy)
    // that keys on the whole URL then never hands out an older version. Static servers ignore it.
    bool bDigestQuery = true;
    RetryPolicy retries = {};
    // Further servers of the same files (base URLs like strBaseURL), in order: when a server
    // cannot be reached or fails a file after its tries, the next one takes over for the rest of
    // the run.
    std::vector<std::string> mirrors = {};
    // What the worker does once every file arrived and passed its checks (the installation),
    // after the AllStored event: 0 when it succeeded. Its result becomes the worker's.
    std::function<int()> afterDownloads = {};
};

class CDownloadMgr {
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
    void RemoveAllTasks();

    // Starts the worker on the queued tasks, once; false when it was started before. Its result
    // (WorkerResult) is that of the last step it took.
    bool Start();
    // Asks the worker to stop while the download goes on: it ends within a second with a
    // Cancelled event, and nothing is installed. False, and nothing changes, once the installation
    // has begun or the download has failed: there is nothing left to stop. Any thread may cancel.
    bool Cancel();
    bool CancelRequested() const { return m_bCancel; }
    // The kind of the event raised last (0 before the first); DOWNLOAD_EVENT_INSTALLING from the
    // moment the installation may begin.
    int LastEvent() const { return m_nLastEvent; }
    // A worker was started and is still downloading: cancelling it means something. Any thread
    // may ask.
    bool Downloading() const;
    // Waits for the worker; its result, or nothing when there is none or it did not end in time.
    std::optional<std::uint32_t> WaitForWorker(std::chrono::milliseconds timeout);
    // Waits for the worker to end. A class that overrides Run calls it in its destructor: the
    // worker calls into it.
    void Join();

    const TaskList& GetTasks() const { return m_arrTasks; }
    const DownloadSetup& GetSetup() const { return m_setup; }
    CInternetSession* GetSession() const { return m_pSession; }
    // Where the task's download is stored in the temporary directory.
    std::string DownloadPath(const tagDownloadTask& task) const;

    // Downloads every task into the temporary directory, reporting each step: 0 all stored, 1 a
    // task failed (after a Failed event), 2 cancelled (after Cancelled). With one connection the
    // tasks go in queue order; with more, each connection takes the next task when it is free,
    // the first failure stops the others, and the events (one at a time) show the file whose
    // bytes arrived last. Runs on the worker thread.
    virtual int Run();

private:
    struct Lane;
    // Why the download ended before every file arrived.
    struct RunEnd {
        bool bCancelled = false;
        std::string strFailure;  // the first failure, for the player
    };

    // The worker's body: runs, takes the step after a complete run and then empties the task list.
    std::uint32_t Work();
    // After an installation, what earlier runs downloaded and no file needed (a file no longer
    // listed, a patch passed over) leaves the temporary directory, unless that is the installation.
    void RemoveStaleDownloads() const;
    // Sets m_nLastEvent, then tells the sink; one event at a time.
    void Raise(const DownloadEvent& event);
    // The same, with m_csEventLock already held.
    void Tell(const DownloadEvent& event);
    // The lane's file begins, or begins again: its size (0 when not announced) and the bytes of it
    // already held.
    void RaiseTotal(Lane& lane, std::uint64_t nFileSize, std::uint64_t nHeld, const std::string& name);
    // Counts `nBytes` more of the lane's file, now `nReceived` long, and tells the sink.
    void RaiseProgress(Lane& lane, std::uint64_t nReceived, std::uint64_t nBytes, const std::string& name);
    // The lane's file arrived whole (FileStored), with the counts of that file.
    void RaiseDone(const Lane& lane, const std::string& name);
    // One connection's loop: the next task while there is one and nothing ended the run. Without
    // a session, the lane opens one of its own with the run's session's limits.
    void RunLane(CInternetSession* pSession);
    void RunLaneTasks(CInternetSession* pSession);
    // Records the first reason the run ends early, and stops every lane.
    void EndRun(bool bCancelled, const std::string& strFailure);
    // Every lane ends, and every pause with it.
    void StopLanes();
    // Waits the pause out; false, at once, when the lanes are stopped.
    bool PauseUnlessStopped(std::chrono::milliseconds pause);
    // Where the task is asked for on the server.
    std::string TaskUrl(const tagDownloadTask& task, std::size_t nServer) const;
    enum class TaskEnd { Stored, Stopped, Failed };
    // Stores the task from the server in use, and from the next ones while a server fails it;
    // the failure that ended it goes to `failure`.
    TaskEnd StoreOnServers(tagDownloadTask& task, Lane& lane, std::string& failure);
    // The server failed a file: the next one takes over, unless every one has failed. False then.
    bool TakeOverFrom(std::size_t nFailedServer);
    struct FileFetch;
    // Downloads one task into its temporary file, from its patch when it has one and that works,
    // else whole; false when a stop ended it. Throws on failure.
    bool StoreTask(tagDownloadTask& task, Lane& lane);
    // Makes the task's file from the installed copy and the patch, downloaded like a file; false
    // (said in the log) when that fails for any reason or a stop ended it.
    bool StoreFromPatch(tagDownloadTask& task, Lane& lane);
    // Downloads the file whole, trying again after a passing failure and continuing bytes held
    // from before; false when a stop ended it. Throws on failure.
    bool FetchWhole(tagDownloadTask& task, Lane& lane);
    // One request for the file, or for its rest; false when a stop ended it. Throws PassingFailure
    // for what another try may not meet, anything else for a failure.
    bool FetchOnce(tagDownloadTask& task, Lane& lane, FileFetch& fetch);
    // Reads the answer's body into the temporary file from the byte `nFrom` on; returns the bytes
    // the file then has. Keeps what arrived when the body breaks off.
    std::uint64_t ReceiveBody(tagDownloadTask& task, Lane& lane, FileFetch& fetch, CHttpFile& http, std::uint64_t nFrom,
                              std::optional<std::uint64_t> length, CDownloadDigests& digests);
    // A temporary file as long as the described one is taken when it verifies, without a request.
    bool TakeCompleteHeldFile(tagDownloadTask& task, Lane& lane, FileFetch& fetch);
    // A body beyond the size the manifest lists is dropped as soon as it shows.
    void RejectLongerBody(const tagDownloadTask& task, std::uint64_t received, CFile& file, const std::string& path,
                          CBackgroundWriter& writer);
    // The complete file against its description, then (for the updater's own name) against this
    // machine, then the task's last check; a refused file is deleted.
    void VerifyTask(const tagDownloadTask& task, CDownloadDigests& digests, std::uint64_t received,
                    const std::string& path);

    IDownloadSink* m_pSink = nullptr;
    DownloadSetup m_setup;
    CInternetSession* m_pSession = nullptr;
    std::vector<std::string> m_servers;
    std::atomic<std::size_t> m_nServer{0};  // the one in use
    std::size_t m_nServersLeft = 0;         // that may still take over

    std::mutex m_csTaskLock;  // the task list, which a failed installation keeps for the owner
    TaskList m_arrTasks;
    int m_nNextTaskID = 0;
    std::set<std::string> m_tempNames;  // the temporary names the queued tasks take

    std::mutex m_csEventLock;  // events, the counts and the run's end
    std::uint64_t m_nTotalDone = 0;  // the bytes of the whole run, for the events
    std::atomic<int> m_nLastEvent{0};
    std::atomic<std::size_t> m_nNextTask{0};
    std::optional<RunEnd> m_end;
    std::atomic<bool> m_bCancel{false};
    std::mutex m_csStopLock;  // for the pauses' wait on m_bStop
    std::condition_variable m_stopped;
    std::atomic<bool> m_bStop{false};  // a cancel or a failure: every lane ends, every wait too
    std::atomic<bool> m_bStarted{false};  // for any thread, where m_hThread is the starter's
    // Where the run stands, changed only by compare-and-swap: a cancel and the start of the
    // installation cannot both win.
    enum Phase : int { kDownloading, kCancelled, kInstalling, kFailed };
    std::atomic<int> m_phase{kDownloading};
    std::unique_ptr<CThread> m_hThread;  // last: it goes first, before anything the worker uses
};

// Creates every directory of the path, from the left, at each '\' or '/'; existing ones are passed
// over. Returns whether the last one was made by this call.
bool CreateDirectoryTree(std::string strPath);
