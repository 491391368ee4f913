// Reading a document whole over the run's session.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "download/RetryPolicy.h"
#include "download/UpdateSession.h"
#include "source/ReadUrlText.h"
#include "tests/support/TestServer.h"

namespace {

TEST(ReadUrlTextTest, ErrorStatusBodiesAreReadAsText)
{
    TestServer server;
    server.Http().Get("/update/update.xml", [](const httplib::Request&, httplib::Response& res) {
        res.status = 500;
        res.set_content("server says no", "text/xml");
    });
    server.Start();
    const std::unique_ptr<CInternetSession> session = OpenUpdateSession();
    const UrlText answered = ReadUrlText(server.Url("/update/update.xml"), *session);
    EXPECT_EQ(answered.end, TextEnd::Whole);
    EXPECT_EQ(answered.strText, "server says no");
    EXPECT_EQ(answered.nStatus, 500);
    ClosedPort closed;
    const UrlText unreachable = ReadUrlText(closed.Url("/"), *session);
    EXPECT_EQ(unreachable.end, TextEnd::Unreachable);
    EXPECT_EQ(unreachable.strText, "");
}

// Accepts each connection and resets it at once, before any answer: a server going down.
class ResettingServer {
public:
    ResettingServer() : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<sockaddr*>(&address), size), 0);
        EXPECT_EQ(::listen(m_fd, 16), 0);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &size);
        m_nPort = ntohs(address.sin_port);
        m_thread = std::thread([this] {
            for (int client; (client = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
                ++m_nAccepted;
                const linger reset{1, 0};
                ::setsockopt(client, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
                ::close(client);
            }
        });
    }
    ~ResettingServer()
    {
        ::shutdown(m_fd, SHUT_RDWR);  // ends the accept
        m_thread.join();
        ::close(m_fd);
    }
    std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(m_nPort) + path; }
    int Accepted() const { return m_nAccepted; }

private:
    int m_fd;
    int m_nPort = 0;
    std::atomic<int> m_nAccepted{0};
    std::thread m_thread;
};

// Before the downloads a server that resets the connection is down: asked once more, not three
// times; one that answers it is busy (503) keeps every retry a download has.
TEST(ReadUrlTextTest, BeforeTheDownloadsALostConnectionIsAskedOnceMoreAndABusyServerAsOftenAsADownload)
{
    const RetryPolicy quick{.pauses = {std::chrono::milliseconds(10), std::chrono::milliseconds(10), std::chrono::milliseconds(10)}};
    const RetryPolicy atStart = StartRetries(quick);
    TestServer busy;  // outlives the session's connection to it
    const std::unique_ptr<CInternetSession> session = OpenUpdateSession();

    ResettingServer resetting;
    EXPECT_EQ(ReadUrlText(resetting.Url("/update/update.xml"), *session, &atStart).end, TextEnd::Unreachable);
    EXPECT_EQ(resetting.Accepted(), 2);

    std::atomic<int> asked{0};
    busy.Http().Get("/update/update.xml", [&](const httplib::Request&, httplib::Response& res) {
        ++asked;
        res.status = 503;
    });
    busy.Start();
    EXPECT_EQ(ReadUrlText(busy.Url("/update/update.xml"), *session, &atStart).nStatus, 503);
    EXPECT_EQ(asked, 4);
}

}  // namespace
