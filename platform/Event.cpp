#include "platform/Event.h"

void CEvent::Set()
{
    {
        std::lock_guard lock(m_mutex);
        m_bSet = true;
    }
    m_changed.notify_all();
}

bool CEvent::IsSet() const
{
    std::lock_guard lock(m_mutex);
    return m_bSet;
}

void CEvent::Wait()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_bSet; });
}

bool CEvent::WaitFor(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] { return m_bSet; });
}
