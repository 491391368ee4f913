#pragma once
// A manual-reset event: once set it stays set and releases every waiter, present and future.

#include <chrono>
#include <condition_variable>
#include <mutex>

class CEvent {
public:
    void Set();
    bool IsSet() const;
    void Wait();
    // Returns false when the time runs out before the event is set.
    bool WaitFor(std::chrono::milliseconds timeout);

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_bSet = false;
};
