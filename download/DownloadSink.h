#pragma once
// The receiver of the download engine's events. The engine calls it synchronously on its worker
// thread, so a handler must be safe to run there.

#include <cstdint>

enum DownloadEvent : int {
    DOWNLOAD_EVENT_FILE_BEGIN = 1,
    DOWNLOAD_EVENT_TOTAL = 3,
    DOWNLOAD_EVENT_PROGRESS = 4,
    DOWNLOAD_EVENT_RESET = 5,
    DOWNLOAD_EVENT_INSTALLING = 6,
    DOWNLOAD_EVENT_CLOSE = 7,
    DOWNLOAD_EVENT_ERROR = 32,
};

class IDownloadSink {
public:
    // lpszText may be null.
    virtual void OnDownloadEvent(std::uint32_t dwParam1, std::uint32_t dwParam2, int nEvent,
                                 const char* lpszText) = 0;

protected:
    ~IDownloadSink() = default;
};
