#include "platform/Thread.h"

CThread::CThread(std::function<std::uint32_t()> body)
    : m_thread([this, body = std::move(body)] {
          m_dwExitCode = body();
          m_ended.Set();
      })
{
}

CThread::~CThread()
{
    Join();
}

void CThread::Join()
{
    if (!m_thread.joinable())
        return;
    if (m_thread.get_id() == std::this_thread::get_id())
        m_thread.detach();  // the body is ending this very object; nothing is left to wait for
    else
        m_thread.join();
}

bool CThread::WaitFor(std::chrono::milliseconds timeout)
{
    return m_ended.WaitFor(timeout);
}

std::optional<std::uint32_t> CThread::GetExitCode() const
{
    if (!m_ended.IsSet())
        return std::nullopt;
    return m_dwExitCode;
}
