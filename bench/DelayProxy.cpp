#include "bench/DelayProxy.h"

#include <arpa/inet.h>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int Connect(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("proxy connect");
        std::exit(1);
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// One direction: what `from` sends reaches `to` a delay later.
class DelayedPipe {
public:
    DelayedPipe(int from, int to, std::chrono::milliseconds delay)
        : m_from(from), m_to(to), m_delay(delay), m_reader([this] { Read(); }), m_writer([this] { Write(); })
    {
    }
    ~DelayedPipe()
    {
        m_reader.join();
        m_writer.join();
    }

private:
    void Read()
    {
        char buffer[65536];
        ssize_t n;
        while ((n = ::read(m_from, buffer, sizeof buffer)) > 0) {
            std::lock_guard lock(m_mutex);
            m_pieces.push_back({Clock::now() + m_delay, std::string(buffer, static_cast<std::size_t>(n))});
            m_changed.notify_one();
        }
        std::lock_guard lock(m_mutex);
        m_bEnded = true;
        m_changed.notify_one();
    }
    void Write()
    {
        std::unique_lock lock(m_mutex);
        while (true) {
            m_changed.wait(lock, [&] { return !m_pieces.empty() || m_bEnded; });
            if (m_pieces.empty())
                break;
            auto [due, bytes] = std::move(m_pieces.front());
            m_pieces.pop_front();
            lock.unlock();
            std::this_thread::sleep_until(due);
            for (std::size_t sent = 0; sent < bytes.size();) {
                const ssize_t n = ::send(m_to, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += static_cast<std::size_t>(n);
            }
            lock.lock();
        }
        ::shutdown(m_to, SHUT_WR);
    }

    struct Piece {
        Clock::time_point due;
        std::string bytes;
    };
    int m_from;
    int m_to;
    std::chrono::milliseconds m_delay;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Piece> m_pieces;
    bool m_bEnded = false;
    std::thread m_reader;
    std::thread m_writer;
};

}  // namespace

struct DelayProxy::Connection {
    Connection(int client, int server, std::chrono::milliseconds delay)
        : clientFd{client}, serverFd{server}, up(client, server, delay), down(server, client, delay)
    {
    }
    // Ends both directions; the pipes' threads are joined, then the sockets closed.
    ~Connection()
    {
        ::shutdown(clientFd.fd, SHUT_RDWR);
        ::shutdown(serverFd.fd, SHUT_RDWR);
    }
    struct Socket {
        int fd;
        ~Socket() { ::close(fd); }
    };
    Socket clientFd;
    Socket serverFd;
    DelayedPipe up;
    DelayedPipe down;
};

DelayProxy::DelayProxy(int targetPort, std::chrono::milliseconds oneWayDelay)
    : m_nTargetPort(targetPort), m_delay(oneWayDelay)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(m_listener, 64) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("proxy listen");
        std::exit(1);
    }
    m_nPort = ntohs(address.sin_port);
    m_acceptor = std::thread([this] { Accept(); });
}

DelayProxy::~DelayProxy()
{
    m_bStopping = true;
    ::shutdown(m_listener, SHUT_RDWR);
    m_acceptor.join();
    ::close(m_listener);
    m_connections.clear();
}

void DelayProxy::Accept()
{
    while (!m_bStopping) {
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            break;
        const int one = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        m_connections.push_back(std::make_unique<Connection>(client, Connect(m_nTargetPort), m_delay));
    }
}
