#pragma once
// The download engine: the list of files to fetch, the session that fetches them and the
// protocol by which the window thread starts, watches and cancels the one worker thread.
//
// The window thread initialises the manager, queues every task, resets m_counts,
// creates the worker (DownloadThreadProc) and stores it in m_hThread, then sets m_hStartEvent.
// The worker runs Run, then Install when every file arrived, reporting each step to the sink.
// To cancel, the window thread sets m_bCancel; m_nLastEvent tells it how far the run has come.
//
// Errors in the engine: the platform's exceptions are caught here and become what the program
// tells, a DOWNLOAD_EVENT_ERROR with its sentence (and the cause on standard error) or a result
// code; nothing in the engine shows a message. Results ignored on purpose: a file that cannot be
// moved into place is passed over so that the rest still installs, and its download stays in the
// temporary directory for the next run.

#include <atomic>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "download/DownloadSink.h"
#include "download/DownloadTask.h"
#include "platform/Event.h"
#include "platform/File.h"
#include "platform/Internet.h"
#include "platform/Thread.h"

class CBackgroundWriter;
class CDownloadDigests;

class CDownloadMgr {
public:
    CDownloadMgr();
    // Waits for the worker, if there is one, before anything it uses goes away.
    ~CDownloadMgr();
    CDownloadMgr(const CDownloadMgr&) = delete;
    CDownloadMgr& operator=(const CDownloadMgr&) = delete;

    // Downloads every task into the temporary directory, in queue order, reporting each step:
    // 0 all stored, 1 a task failed (after DOWNLOAD_EVENT_ERROR), 2 cancelled (after
    // DOWNLOAD_EVENT_CLOSE). Runs on the worker thread.
    virtual int Run();
    // Puts the downloaded files in place: moves each over the installed file (setting the running
    // executable aside for a new copy of itself), or unpacks the package. Reports its start and
    // end and returns 0; a package that cannot be unpacked whole instead raises
    // DOWNLOAD_EVENT_ERROR and returns 1. Runs on the worker thread.
    virtual int Install();

    // Stores the sink and the three locations, builds the set-aside names of the executable,
    // creates the temporary directory (one level), the session and the start event.
    // False for a null sink (nothing changes) or when the start event could not be made.
    bool Initialize(IDownloadSink* pSink, const std::string& strBaseURL, const std::string& strTempDir,
                    const std::string& strInstallDir);
    // Queues one file by its relative name; false only for a null name. A file the manifest
    // describes is verified against that description before it is kept; the check, when given,
    // runs last on the complete file.
    bool AddTask(const char* lpszName);
    bool AddTask(const char* lpszName, std::optional<tagExpectedFile> expected, DownloadCheck fnCheck = {},
                 std::optional<std::uint64_t> nLimit = std::nullopt);
    void RemoveAllTasks();

    int m_nNextTaskID = 0;
    std::set<std::string> m_tempNames;  // the temporary names the queued tasks take
    // The byte counts behind the progress events, whose parameters carry only their low 32 bits:
    // a sink may read them while it handles DOWNLOAD_EVENT_TOTAL or DOWNLOAD_EVENT_PROGRESS.
    struct Counts {
        std::uint64_t nFileDone = 0;
        std::uint64_t nFileSize = 0;  // as the server announced it; 0 when it did not
        std::uint64_t nTotalDone = 0;
    } m_counts;
    std::atomic<int> m_nLastEvent{0};
    std::vector<std::unique_ptr<tagDownloadTask>> m_arrTasks;
    std::unique_ptr<CThread> m_hThread;
    std::unique_ptr<CEvent> m_hStartEvent;
    std::atomic<bool> m_bCancel{false};
    IDownloadSink* m_pSink = nullptr;
    std::string m_strBaseURL;
    std::string m_strTempDir;
    std::string m_strInstallDir;
    std::unique_ptr<CInternetSession> m_pSession;

private:
    // Sets m_nLastEvent, then tells the sink.
    void Raise(std::uint32_t dwParam1, std::uint32_t dwParam2, int nEvent, const char* lpszText);
    // Counts `nBytes` more of the file, now `nReceived` long, and tells the sink.
    void RaiseProgress(std::uint64_t nReceived, std::uint64_t nBytes, const char* lpszName);
    // Downloads one task into its temporary file; false when a cancel ended it. Throws on failure.
    bool StoreTask(tagDownloadTask& task, CFile& file, std::vector<char>& buffer, CBackgroundWriter& writer);
    // A body beyond the size the manifest lists is dropped as soon as it shows.
    void RejectLongerBody(const tagDownloadTask& task, std::uint64_t received, CFile& file, const std::string& path,
                          CBackgroundWriter& writer);
    // The complete file against its description, then (for the updater's own name) against this
    // machine, then the task's last check; a refused file is deleted.
    void VerifyTask(const tagDownloadTask& task, CDownloadDigests& digests, std::uint64_t received,
                    const std::string& path);
    static void Discard(CFile& file, const std::string& path);
    void InstallFile(const tagDownloadTask& task, const std::string& ownName);
    // Unpacks the package into the installation when every entry can be; false after raising
    // the failure.
    bool InstallPackage(const std::string& package, const std::string& ownName);
};

// The name the running executable is set aside under, alone and in the installation directory
// (g_strOldExeName, g_strOldExePath).
void BuildSetAsideNames(const std::string& strInstallDir);

// Creates every directory of the path, from the left, at each '\' or '/'; existing ones are passed
// over. Returns whether the last one was made by this call.
bool CreateDirectoryTree(std::string strPath);

// The owner's start of the worker, in the order the manager relies on: the byte counts reset,
// the worker created and stored in m_hThread, then the start event set.
void StartDownload(CDownloadMgr& downloadMgr);

// The worker thread's body: waits for the start event, runs, installs after a complete run and
// then empties the task list. Its exit code is the result of the last step taken.
std::uint32_t DownloadThreadProc(CDownloadMgr* pMgr);
