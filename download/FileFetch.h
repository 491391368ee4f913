#pragma once
// One file's way into the temporary directory, as one object. Store first makes the file from the
// installed copy and a patch, when the manifest offers one and nothing of the whole file is held
// yet (the patch downloaded like any file); when that cannot be done, or there is no patch, the
// file is downloaded whole. A download continues the bytes an earlier try or run left; a passing
// failure is tried again after the run's pause (at once when the held bytes turned out useless);
// the complete file is verified before it is kept. What a fetch needs of the run it belongs to
// (the server in use, its events, its stop) comes through IFetchRun; the connection and buffers
// through the lane it runs on.
//
// Errors: Store returns true when the file is stored and false when the run was stopped between
// requests; a stop during a request throws CInternetException with IsCancel(). A failure throws:
// CFetchError (download/FetchError.h) when no connection could be opened, the server's answer is
// not the file (after the tries a passing failure is given) or the file's last check refused it;
// CInternetException for the connection; CFileException for the disk; what else the standard
// library throws (no memory, no thread). Bytes that arrived and are refused or not the file are
// deleted; bytes that may be continued stay, with their note.

#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "download/BlockPipeline.h"
#include "download/DownloadSetup.h"
#include "download/DownloadTask.h"
#include "download/HeldDownload.h"
#include "platform/File.h"
#include "platform/Internet.h"

class CDownloadDigests;

// One connection's share of a run, used by one fetch after another: its session, and the file and
// block pipeline of the download in hand.
struct FetchLane {
    // The body is read kBlockSize bytes at a time (one progress event each) but written and hashed
    // in groups: a write call per read costs a third of the throughput. A group is written and
    // hashed on the pipeline's threads while the next one arrives.
    static constexpr std::size_t kBlockSize = 8192;
    static constexpr std::size_t kBlocksPerWrite = 32;

    CInternetSession* pSession = nullptr;
    std::unique_ptr<CInternetSession> pOwnSession;
    CFile file;
    CBlockPipeline pipeline{kBlockSize * kBlocksPerWrite};
    std::uint64_t nFileSize = 0;  // of the download in hand, as announced
    std::uint64_t nFileDone = 0;  // of its bytes, those counted in the run's total
};

// What a fetch needs of the run it belongs to. Called on the fetch's thread.
class IFetchRun {
public:
    virtual const DownloadSetup& Setup() const = 0;
    // Where the task is asked for on the server in use.
    virtual std::string Url(const tagDownloadTask& task) const = 0;
    // The run's events for the lane's file (download/DownloadSink.h): it begins; its size and the
    // bytes of it held are known; `nBytes` more arrived and it is `nReceived` long.
    virtual void FileBegun() = 0;
    virtual void FileSized(FetchLane& lane, std::uint64_t nFileSize, std::uint64_t nHeld, const std::string& name) = 0;
    virtual void BytesArrived(FetchLane& lane, std::uint64_t nReceived, std::uint64_t nBytes, const std::string& name) = 0;
    // A cancel, or another lane's failure, ended the run.
    virtual bool Stopped() const = 0;
    // Waits the pause out; false, at once, when the run is stopped.
    virtual bool PauseUnlessStopped(std::chrono::milliseconds pause) = 0;

protected:
    ~IFetchRun() = default;
};

class CFileFetch {
public:
    // The task, lane and run must outlive the fetch.
    CFileFetch(tagDownloadTask& task, FetchLane& lane, IFetchRun& run);
    CFileFetch(const CFileFetch&) = delete;
    CFileFetch& operator=(const CFileFetch&) = delete;

    // Stores the file at its temporary path; false when the run was stopped. Throws on failure.
    bool Store();

private:
    // A failure another try may not meet; `failure` ends the download when no try is left.
    struct TryAgain {
        std::exception_ptr failure;
        std::string strCause;  // for the log
        std::optional<std::chrono::seconds> retryAfter{};
        bool bAtOnce = false;  // a fresh start, which needs no pause
    };
    enum class TryEnd { Stored, Stopped };
    // What one request's body came to: the bytes the file then has, and whether it broke off.
    struct Received {
        std::uint64_t nBytes = 0;
        std::optional<TryAgain> broke;
    };

    // The file made from the installed copy and the patch; false (said in the log) when that fails
    // for any reason or the run was stopped.
    bool FromPatch();
    // The file downloaded whole, continuing bytes held from before and trying again after a
    // passing failure; false when the run was stopped.
    bool Whole();
    // A file as long as the described one that an earlier run left is taken when it verifies.
    bool TakeCompleteHeldFile();
    // One request for the file, or for its rest.
    std::variant<TryEnd, TryAgain> Once();
    // Reads the answer's body into the file from the byte `nFrom` on. Keeps what arrived when the
    // body breaks off.
    Received Receive(CHttpFile& http, std::uint64_t nFrom, std::optional<std::uint64_t> length,
                     CDownloadDigests& digests);
    // A body beyond the size the manifest lists is dropped as soon as it shows.
    void RejectLongerBody(std::uint64_t nReceived);
    // The complete file against its description, then (for the updater's own name) against this
    // machine, then the task's last check; a refused file is deleted.
    void Verify(CDownloadDigests& digests, std::uint64_t nReceived);
    void Drop();

    tagDownloadTask& m_task;
    FetchLane& m_lane;
    IFetchRun& m_run;
    const std::string m_strPath;      // the temporary file
    const std::string m_strIdentity;  // which version of the file held bytes must be of
    std::optional<HeldDownload> m_held;  // bytes in the file that a request may continue
    std::string m_strValidator;          // of the answer in hand
    unsigned m_nRetries = 0;
    std::chrono::steady_clock::time_point m_begun = std::chrono::steady_clock::now();
};
