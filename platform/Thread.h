#pragma once
// A thread that runs one function and keeps its exit code, as a Windows thread handle does.
// The destructor waits for the function to return: a thread never outlives what it uses.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <thread>

#include "platform/Event.h"

class CThread {
public:
    explicit CThread(std::function<std::uint32_t()> body);
    ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    void Join();
    // Returns false when the thread is still running after the timeout.
    bool WaitFor(std::chrono::milliseconds timeout);
    // Empty while the thread is running.
    std::optional<std::uint32_t> GetExitCode() const;

private:
    CEvent m_ended;
    std::uint32_t m_dwExitCode = 0;
    std::thread m_thread;
};
