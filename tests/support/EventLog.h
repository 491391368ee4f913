#pragma once
// A download sink that records every event, with an optional hook run on each one. An event is
// recorded as its kind, two counts and a text, as the engine's events were once numbered.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "download/DownloadSink.h"

struct RecordedEvent {
    // FileSized: 0 and the announced size; BytesArrived: the file's bytes and the run's; else 0, 0.
    std::uint64_t nParam1;
    std::uint64_t nParam2;
    int nEvent;        // the kind
    std::string text;  // the file's name or the failure's sentence; "<null>" for none
    bool operator==(const RecordedEvent&) const = default;
};

std::ostream& operator<<(std::ostream& os, const RecordedEvent& e);

class EventLog : public IDownloadSink {
public:
    void OnDownloadEvent(const DownloadEvent& event) override;

    std::vector<RecordedEvent> Events() const;
    std::vector<int> Codes() const;
    // The last event, or an event with code 0 when there was none.
    RecordedEvent Last() const;
    // The run's bytes as the last event that counts them had them.
    std::uint64_t TotalDone() const;

    std::function<void(const RecordedEvent&)> onEvent;

private:
    mutable std::mutex m_mutex;
    std::vector<RecordedEvent> m_events;
    std::uint64_t m_nTotalDone = 0;
};
