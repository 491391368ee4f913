#pragma once
// Writes and hashes the blocks of a download on a second thread while the worker receives the
// next ones, so that on a fast network the digests of what arrives cost no time: the worker
// hands over a full buffer and takes back the one written before.

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class CBackgroundWriter {
public:
    CBackgroundWriter();
    // Waits for the write in hand, then ends the thread.
    ~CBackgroundWriter();
    CBackgroundWriter(const CBackgroundWriter&) = delete;
    CBackgroundWriter& operator=(const CBackgroundWriter&) = delete;

    // Hands the first `used` bytes of the buffer to `consume` on the second thread and gives
    // the caller back a buffer of the same size to fill. Waits while the previous buffer is
    // still being consumed, and rethrows what that consumption threw.
    void Submit(std::vector<char>& buffer, std::size_t used,
                std::function<void(const char* pData, std::size_t nLength)> consume);
    // Waits until everything handed over is consumed; rethrows what that threw.
    void Flush();
    // Waits the same, dropping any failure: for clean-up after one.
    void Drain() noexcept;

private:
    void Loop();
    void WaitIdle(std::unique_lock<std::mutex>& lock);
    void RethrowFailure();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<char> m_spare;
    std::size_t m_nUsed = 0;
    std::function<void(const char*, std::size_t)> m_consume;
    bool m_bBusy = false;
    bool m_bStopping = false;
    std::exception_ptr m_failure;
    std::thread m_thread;  // last: starts once everything it uses exists
};
