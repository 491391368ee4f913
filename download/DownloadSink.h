#pragma once
// What the download engine reports, one typed event at a time, and its receiver. The engine
// calls the sink synchronously on its worker thread (one event at a time, whichever connection
// it comes from), so a handler must be safe to run there. A file's name in an event is the task's
// own, which lives as long as the manager keeps its tasks; a sentence lives for the call only.
//
// Every event has a kind, DownloadEventKind, which tells how far a run has come
// (CDownloadMgr::LastEvent).

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

enum DownloadEventKind : int {
    DOWNLOAD_EVENT_FILE_BEGIN = 1,
    DOWNLOAD_EVENT_TOTAL = 3,
    DOWNLOAD_EVENT_PROGRESS = 4,
    DOWNLOAD_EVENT_RESET = 5,
    DOWNLOAD_EVENT_INSTALLING = 6,
    DOWNLOAD_EVENT_CLOSE = 7,
    DOWNLOAD_EVENT_ERROR = 32,
};

namespace download_event {

// A file's download begins, or begins again on another server.
struct FileBegun {
    static constexpr DownloadEventKind kKind = DOWNLOAD_EVENT_FILE_BEGIN;
};
// The server's answer for the file came (or a file held from an earlier run is taken): the
// file's size as announced (0 when it was not) and the bytes of it already held.
struct FileSized {
    static constexpr DownloadEventKind kKind = DOWNLOAD_EVENT_TOTAL;
    const std::string& name;  // the task's own
    std::uint64_t nFileSize = 0;
    std::uint64_t nHeld = 0;
    std::uint64_t nTotalDone = 0;  // of the whole run, this file's held bytes counted
};
// Bytes of the file arrived. With several connections these are the file whose bytes arrived last.
struct BytesArrived {
    static constexpr DownloadEventKind kKind = DOWNLOAD_EVENT_PROGRESS;
    const std::string& name;  // the task's own
    std::uint64_t nFileDone = 0;
    std::uint64_t nFileSize = 0;  // as announced; 0 when it was not
    std::uint64_t nTotalDone = 0;  // of the whole run
};
// The file arrived whole and passed its checks; the counts are that file's.
struct FileStored {
    static constexpr DownloadEventKind kKind = DOWNLOAD_EVENT_RESET;
    const std::string& name;  // the task's own
    std::uint64_t nFileDone = 0;
    std::uint64_t nFileSize = 0;
    std::uint64_t nTotalDone = 0;
};
// Every file arrived and passed its checks: nothing of the download is left to cancel, and what is
// done with the files is the owner's.
struct AllStored {
    static constexpr DownloadEventKind kKind = DOWNLOAD_EVENT_INSTALLING;
};
// The download stopped on a cancel; nothing is installed.
struct Cancelled {
    static constexpr DownloadEventKind kKind = DOWNLOAD_EVENT_CLOSE;
};
// The download failed: the sentence for the player.
struct Failed {
    static constexpr DownloadEventKind kKind = DOWNLOAD_EVENT_ERROR;
    std::string_view sentence;
};

}  // namespace download_event

using DownloadEvent = std::variant<download_event::FileBegun, download_event::FileSized, download_event::BytesArrived,
                                   download_event::FileStored, download_event::AllStored, download_event::Cancelled,
                                   download_event::Failed>;

inline DownloadEventKind KindOf(const DownloadEvent& event)
{
    return std::visit([](const auto& e) { return e.kKind; }, event);
}

class IDownloadSink {
public:
    virtual void OnDownloadEvent(const DownloadEvent& event) = 0;

protected:
    ~IDownloadSink() = default;
};
