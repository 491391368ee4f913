#pragma once
// An HTTP server on 127.0.0.1 with a free port, run on its own threads for the length of a test.
// Handlers that stall wait through Stall(), which ends as soon as the server shuts down.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <httplib.h>
#include <mutex>
#include <string>
#include <thread>

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
    void Stop();

private:
    httplib::Server m_server;
    std::thread m_thread;
    int m_nPort = 0;
    std::mutex m_mutex;
    std::condition_variable m_stopped;
    bool m_bStopping = false;
};

// A port on 127.0.0.1 that nothing listens on (bound, then released).
int UnusedPort();
