#pragma once
// A download sink that records every event, with an optional hook run on each one.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "download/DownloadSink.h"

struct RecordedEvent {
    std::uint32_t dwParam1;
    std::uint32_t dwParam2;
    int nEvent;
    std::string text;  // "<null>" for a null text
    bool operator==(const RecordedEvent&) const = default;
};

std::ostream& operator<<(std::ostream& os, const RecordedEvent& e);

class EventLog : public IDownloadSink {
public:
    void OnDownloadEvent(std::uint32_t dwParam1, std::uint32_t dwParam2, int nEvent, const char* lpszText) override;

    std::vector<RecordedEvent> Events() const;
    std::vector<int> Codes() const;
    // The last event, or an event with code 0 when there was none.
    RecordedEvent Last() const;

    std::function<void(const RecordedEvent&)> onEvent;

private:
    mutable std::mutex m_mutex;
    std::vector<RecordedEvent> m_events;
};
