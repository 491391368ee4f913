#pragma once
// An HTTP server on 127.0.0.1 with a free port, run on its own threads for the length of a test.
// Handlers that stall wait through Stall(), which ends as soon as the server shuts down; the
// server counts them, so that a test can wait for a stall to begin and see that it goes on.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <httplib.h>
#include <mutex>
#include <string>
#include <thread>

#include "platform/win32/SystemNames.h"  // after httplib.h, which brings <windows.h> in on Windows

class TestServer {
public:
    TestServer();
    ~TestServer();

    httplib::Server& Http() { return m_server; }
    // Starts serving; call after the handlers are registered.
    void Start();
    int Port() const { return m_nPort; }
    std::string Url(const std::string& path) const;
    // Waits for the time given or until the server stops; false when it stopped.
    bool Stall(std::chrono::milliseconds duration);
    // Handlers inside Stall() at this moment.
    int Stalling();
    // Waits until `count` handlers are inside Stall(); false when they are not after 20 s.
    bool WaitUntilStalling(int count = 1);
    void Stop();

private:
    httplib::Server m_server;
    std::thread m_thread;
    int m_nPort = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;  // a stall began or ended, or the server is stopping
    int m_nStalling = 0;
    bool m_bStopping = false;
};

// A port on 127.0.0.1 where nobody listens: bound, never listening, for as long as the object
// lives. Connections to it are refused, and no server can take the port meanwhile.
class ClosedPort {
public:
    ClosedPort();
    ~ClosedPort();
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;

    int Port() const { return m_nPort; }
    std::string Url(const std::string& path) const;

private:
    friend class ResettingServer;
    socket_t m_fd = INVALID_SOCKET;  // httplib's name: a handle on Windows, a descriptor here
    int m_nPort = 0;
};

// A server on 127.0.0.1 that takes each connection and resets it at once, before any answer: a
// server going down. It counts the connections it took.
class ResettingServer {
public:
    ResettingServer();
    ~ResettingServer();
    ResettingServer(const ResettingServer&) = delete;
    ResettingServer& operator=(const ResettingServer&) = delete;

    std::string Url(const std::string& path) const;
    int Accepted() const { return m_nAccepted; }

private:
    socket_t m_fd = INVALID_SOCKET;
    int m_nPort = 0;
    std::atomic<bool> m_bStopping{false};
    std::atomic<int> m_nAccepted{0};
    std::thread m_thread;
};
