#include "tests/support/EventLog.h"

#include <ostream>

std::ostream& operator<<(std::ostream& os, const RecordedEvent& e)
{
    return os << "{" << e.nEvent << ", " << e.dwParam1 << ", " << e.dwParam2 << ", \"" << e.text << "\"}";
}

void EventLog::OnDownloadEvent(std::uint32_t dwParam1, std::uint32_t dwParam2, int nEvent, const char* lpszText)
{
    RecordedEvent event{dwParam1, dwParam2, nEvent, lpszText ? lpszText : "<null>"};
    {
        std::lock_guard lock(m_mutex);
        m_events.push_back(event);
    }
    if (onEvent)
        onEvent(event);
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
