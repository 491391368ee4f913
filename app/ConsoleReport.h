#pragma once
// A report of the run on standard error, for runs without the window: one line per file begun
// and stored, the installation, the end, and the failure text of a failed download.

#include <atomic>

#include "download/DownloadSink.h"

class CConsoleReport : public IDownloadSink {
public:
    void OnDownloadEvent(std::uint32_t dwParam1, std::uint32_t dwParam2, int nEvent, const char* lpszText) override;

    // Whether the run ended with a failed download.
    bool Failed() const { return m_bFailed; }

private:
    std::atomic<bool> m_bFailed{false};
};
