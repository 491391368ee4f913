#pragma once
// A TCP proxy on 127.0.0.1 that holds every piece of data for a while in each direction, as a
// distant server would: with a delay of d each way, a request and its answer take 2d longer.
// Each connection is forwarded to the target port by four threads: a reader and a writer for
// each direction, the writer sending each piece when its time has come.

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

class DelayProxy {
public:
    DelayProxy(int targetPort, std::chrono::milliseconds oneWayDelay);
    ~DelayProxy();
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    int Port() const { return m_nPort; }

private:
    struct Connection;
    void Accept();

    int m_nTargetPort;
    std::chrono::milliseconds m_delay;
    int m_listener = -1;
    int m_nPort = 0;
    std::atomic<bool> m_bStopping{false};
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::thread m_acceptor;
};
