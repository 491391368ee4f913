#include "tests/support/EventLog.h"

#include <optional>
#include <ostream>

namespace {

struct Recording {
    RecordedEvent event;
    std::optional<std::uint64_t> totalDone;
};

Recording Record(const download_event::FileBegun& e) { return {{0, 0, e.kKind, "<null>"}, {}}; }
Recording Record(const download_event::FileSized& e) { return {{0, e.nFileSize, e.kKind, e.name}, e.nTotalDone}; }
Recording Record(const download_event::BytesArrived& e)
{
    return {{e.nFileDone, e.nTotalDone, e.kKind, e.name}, e.nTotalDone};
}
Recording Record(const download_event::FileStored& e) { return {{0, 0, e.kKind, e.name}, e.nTotalDone}; }
Recording Record(const download_event::AllStored& e) { return {{0, 0, e.kKind, "<null>"}, {}}; }
Recording Record(const download_event::Cancelled& e) { return {{0, 0, e.kKind, "<null>"}, {}}; }
Recording Record(const download_event::Failed& e) { return {{0, 0, e.kKind, std::string(e.sentence)}, {}}; }

}  // namespace

std::ostream& operator<<(std::ostream& os, const RecordedEvent& e)
{
    return os << "{" << e.nEvent << ", " << e.nParam1 << ", " << e.nParam2 << ", \"" << e.text << "\"}";
}

void EventLog::OnDownloadEvent(const DownloadEvent& downloadEvent)
{
    const Recording recording = std::visit([](const auto& e) { return Record(e); }, downloadEvent);
    {
        std::lock_guard lock(m_mutex);
        m_events.push_back(recording.event);
        m_nTotalDone = recording.totalDone.value_or(m_nTotalDone);
    }
    if (onEvent)
        onEvent(recording.event);
}

std::vector<RecordedEvent> EventLog::Events() const
{
    std::lock_guard lock(m_mutex);
    return m_events;
}

std::vector<int> EventLog::Codes() const
{
    std::vector<int> codes;
    for (const auto& e : Events())
        codes.push_back(e.nEvent);
    return codes;
}

RecordedEvent EventLog::Last() const
{
    std::lock_guard lock(m_mutex);
    return m_events.empty() ? RecordedEvent{0, 0, 0, ""} : m_events.back();
}

std::uint64_t EventLog::TotalDone() const
{
    std::lock_guard lock(m_mutex);
    return m_nTotalDone;
}
