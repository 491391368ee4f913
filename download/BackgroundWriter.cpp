#include "download/BackgroundWriter.h"

#include <utility>

CBackgroundWriter::CBackgroundWriter() : m_thread([this] { Loop(); }) {}

CBackgroundWriter::~CBackgroundWriter()
{
    {
        std::unique_lock lock(m_mutex);
        WaitIdle(lock);
        m_bStopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void CBackgroundWriter::Submit(std::vector<char>& buffer, std::size_t used,
                               std::function<void(const char*, std::size_t)> consume)
{
    {
        std::unique_lock lock(m_mutex);
        WaitIdle(lock);
        RethrowFailure();
        if (m_spare.size() != buffer.size())
            m_spare.resize(buffer.size());
        m_spare.swap(buffer);
        m_nUsed = used;
        m_consume = std::move(consume);
        m_bBusy = true;
    }
    m_changed.notify_all();
}

void CBackgroundWriter::Flush()
{
    std::unique_lock lock(m_mutex);
    WaitIdle(lock);
    RethrowFailure();
}

void CBackgroundWriter::Drain() noexcept
{
    std::unique_lock lock(m_mutex);
    WaitIdle(lock);
    m_failure = nullptr;
}

void CBackgroundWriter::WaitIdle(std::unique_lock<std::mutex>& lock)
{
    m_changed.wait(lock, [this] { return !m_bBusy; });
}

void CBackgroundWriter::RethrowFailure()
{
    if (std::exception_ptr failure = std::exchange(m_failure, nullptr))
        std::rethrow_exception(failure);
}

void CBackgroundWriter::Loop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_bBusy || m_bStopping; });
        if (!m_bBusy)
            return;
        // The buffer is this thread's until m_bBusy falls: the worker fills the other one.
        lock.unlock();
        std::exception_ptr failure;
        try {
            m_consume(m_spare.data(), m_nUsed);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        m_failure = failure;
        m_consume = nullptr;
        m_bBusy = false;
        m_changed.notify_all();
    }
}
