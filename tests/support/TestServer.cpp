#include "tests/support/TestServer.h"

#include <stdexcept>
#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

void CloseSocket(socket_t socket)
{
#ifdef _WIN32
    ::closesocket(socket);
#else
    ::close(socket);
#endif
}

}  // namespace

TestServer::TestServer()
{
    m_server.set_tcp_nodelay(true);  // else small responses wait on delayed acknowledgements
}

TestServer::~TestServer()
{
    Stop();
}

void TestServer::Start()
{
    m_nPort = m_server.bind_to_any_port("127.0.0.1");
    if (m_nPort <= 0)
        throw std::runtime_error("test server: no free port");
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
    while (!m_server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

std::string TestServer::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(m_nPort) + path;
}

bool TestServer::Stall(std::chrono::milliseconds duration)
{
    std::unique_lock lock(m_mutex);
    ++m_nStalling;
    m_changed.notify_all();
    bool stopped = m_changed.wait_for(lock, duration, [this] { return m_bStopping; });
    --m_nStalling;
    m_changed.notify_all();
    return !stopped;
}

int TestServer::Stalling()
{
    std::lock_guard lock(m_mutex);
    return m_nStalling;
}

bool TestServer::WaitUntilStalling(int count)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::seconds(20), [&] { return m_nStalling >= count; });
}

void TestServer::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_bStopping = true;
    }
    m_changed.notify_all();
    m_server.stop();
    if (m_thread.joinable())
        m_thread.join();
}

ClosedPort::ClosedPort()
{
#ifdef SOCK_CLOEXEC
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);  // not held open by the programs a test starts
#else
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
#endif
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (m_fd == INVALID_SOCKET || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        if (m_fd != INVALID_SOCKET)
            CloseSocket(m_fd);
        throw std::runtime_error("closed port: no port can be bound");
    }
    m_nPort = ntohs(address.sin_port);
}

ClosedPort::~ClosedPort()
{
    CloseSocket(m_fd);
}

std::string ClosedPort::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(m_nPort) + path;
}

ResettingServer::ResettingServer()
{
    ClosedPort bound;  // a free port, taken over: listening on it makes it open
    std::swap(m_fd, bound.m_fd);
    m_nPort = bound.Port();
    if (::listen(m_fd, 16) != 0)
        throw std::runtime_error("resetting server: the port cannot listen");
    m_thread = std::thread([this] {
        for (;;) {
            const socket_t client = ::accept(m_fd, nullptr, nullptr);
            if (client == INVALID_SOCKET)
                break;
            const linger reset{1, 0};  // a close with a reset, not an orderly end
            ::setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset), sizeof reset);
            CloseSocket(client);
            if (m_bStopping)
                break;
            ++m_nAccepted;
        }
    });
}

ResettingServer::~ResettingServer()
{
    // The accept is woken by one last connection of our own.
    m_bStopping = true;
    httplib::Client(Url("")).Get("/");
    m_thread.join();
    CloseSocket(m_fd);
}

std::string ResettingServer::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(m_nPort) + path;
}
