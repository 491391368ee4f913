#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

#include "platform/Internet.h"
#include "tests/support/Environment.h"
#include "tests/support/TestServer.h"

using namespace std::chrono_literals;

namespace {

std::string Pattern(std::size_t size)
{
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        body[i] = static_cast<char>((i * 131 + i / 977) & 0xFF);
    return body;
}

// Reads the whole body in blocks of the size the download worker uses.
std::string ReadAll(CHttpFile& file, std::size_t block = 8192)
{
    std::string body, buffer(block, '\0');
    while (std::size_t n = file.Read(buffer.data(), block)) {
        body.append(buffer, 0, n);
        if (n < block) {  // a short read only happens at the end
            EXPECT_EQ(file.Read(buffer.data(), block), 0u);
        }
    }
    return body;
}

class InternetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            UnsetEnvironment(name);
    }

    TestServer server;
    CInternetSession session{{.strAgent = "InternetTest"}};
};

TEST_F(InternetTest, BodyArrivesWholeInFullBlocksWithItsLength)
{
    const std::string body = Pattern(3 * 1024 * 1024 + 17);
    server.Http().Get("/big.bin", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(body, "application/octet-stream");
    });
    server.Start();

    auto file = session.OpenURL(server.Url("/big.bin"));
    EXPECT_EQ(file->QueryStatus(), 200);
    EXPECT_EQ(file->QueryContentLength(), body.size());
    EXPECT_EQ(ReadAll(*file), body);
}

TEST_F(InternetTest, ReadsOfWhatHasArrivedMixedWithFullReadsGiveTheBodyInOrder)
{
    const std::string body = Pattern(5 * 1024 * 1024 + 3);
    server.Http().Get("/big.bin", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(body, "application/octet-stream");
    });
    server.Start();

    // Reads of every size, some waiting for a full buffer, some taking what has come: bytes that
    // arrive while a read waits go straight into its buffer, the rest wait their turn.
    auto file = session.OpenURL(server.Url("/big.bin"));
    std::string received, buffer(300 * 1024, '\0');
    const std::size_t sizes[] = {1, 8192, 300 * 1024, 7, 64 * 1024, 200 * 1024};
    for (std::size_t i = 0;; ++i) {
        const std::size_t size = sizes[i % std::size(sizes)];
        const std::size_t n = i % 3 == 0 ? file->Read(buffer.data(), size) : file->ReadSome(buffer.data(), size);
        if (n == 0)
            break;
        ASSERT_LE(n, size);
        received.append(buffer, 0, n);
    }
    EXPECT_TRUE(received == body) << received.size() << " of " << body.size() << " bytes";
}

TEST_F(InternetTest, ErrorStatusStillDeliversItsBody)
{
    server.Http().Get("/missing", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("<html>not here</html>", "text/html");
    });
    server.Start();

    auto file = session.OpenURL(server.Url("/missing"));
    EXPECT_EQ(file->QueryStatus(), 404);
    EXPECT_EQ(ReadAll(*file), "<html>not here</html>");
}

TEST_F(InternetTest, BodyWithoutLengthIsReadToItsEnd)
{
    const std::string body = Pattern(100000);
    server.Http().Get("/chunked", [&](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("application/octet-stream", [body](size_t offset, httplib::DataSink& sink) {
            if (offset < body.size())
                sink.write(body.data() + offset, std::min<size_t>(7000, body.size() - offset));
            else
                sink.done();
            return true;
        });
    });
    server.Start();

    auto file = session.OpenURL(server.Url("/chunked"));
    EXPECT_EQ(file->QueryContentLength(), std::nullopt);
    EXPECT_EQ(ReadAll(*file), body);
}

TEST_F(InternetTest, BodyShorterThanItsLengthFails)
{
    const std::string body = Pattern(50000);
    server.Http().Get("/cut", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(body.size() * 2, "application/octet-stream",
                                 [body](size_t offset, size_t, httplib::DataSink& sink) {
                                     if (offset >= body.size())
                                         return false;  // the connection closes midway
                                     sink.write(body.data(), body.size());
                                     return true;
                                 });
    });
    server.Start();

    auto file = session.OpenURL(server.Url("/cut"));
    EXPECT_EQ(file->QueryContentLength(), body.size() * 2);
    std::string received, buffer(8192, '\0');
    try {
        while (std::size_t n = file->Read(buffer.data(), buffer.size()))
            received.append(buffer, 0, n);
        FAIL() << "a short body was read as complete";
    } catch (const CInternetException& e) {
        EXPECT_FALSE(e.IsCancel());
        EXPECT_FALSE(e.GetErrorMessage().empty());
    }
    EXPECT_LE(received.size(), body.size());
}

TEST_F(InternetTest, RefusedConnectionThrowsCurlsText)
{
    ClosedPort closed;
    try {
        session.OpenURL(closed.Url("/x"));
        FAIL() << "no exception";
    } catch (const CInternetException& e) {
        EXPECT_NE(e.GetErrorMessage().find("connect"), std::string::npos) << e.GetErrorMessage();
    }
}

// The proxy of the system's settings: a request for another server goes to it, asking for that
// server's URL; a host it bypasses is asked directly.
TEST_F(InternetTest, AProxyIsAskedForEveryHostButThoseItBypasses)
{
    std::string asked;
    server.Http().Get(R"(.*)", [&](const httplib::Request& req, httplib::Response& res) {
        asked = req.target;
        res.set_content("from the proxy", "text/plain");
    });
    server.Start();
    ClosedPort closed;
    CInternetSession::Settings settings;
    settings.proxy = ProxySettings{"127.0.0.1:" + std::to_string(server.Port()), "localhost"};
    CInternetSession proxied(settings);
    std::unique_ptr<CHttpFile> file = proxied.OpenURL(closed.Url("/game.dat"));
    EXPECT_EQ(ReadAll(*file, 4096), "from the proxy");
    EXPECT_EQ(asked, closed.Url("/game.dat"));
    file.reset();
    const std::string bypassed = "http://localhost:" + std::to_string(closed.Port()) + "/game.dat";
    EXPECT_THROW(proxied.OpenURL(bypassed), CInternetException);
}

TEST_F(InternetTest, StalledBodyFailsAtTheStallLimitWhileTheServerStillHoldsItBack)
{
    // Sends `sent` bytes of a longer body, then holds the rest back for a minute.
    auto stallAfter = [&](std::size_t sent) {
        return [&, sent](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(100000, "application/octet-stream", [&, sent](size_t, size_t, httplib::DataSink& sink) {
                sink.write(std::string(sent, 'x').data(), sent);
                server.Stall(60s);
                return false;
            });
        };
    };
    server.Http().Get("/silent", stallAfter(0));
    server.Http().Get("/partial", stallAfter(10000));
    server.Start();
    session.SetLimits({.connectTimeout = 5s, .stallTimeout = 1s});

    int stalled = 0;
    for (auto [path, sent] : {std::pair{"/silent", std::size_t{0}}, std::pair{"/partial", std::size_t{10000}}}) {
        auto file = session.OpenURL(server.Url(path));
        std::string received, buffer(8192, '\0');
        try {
            while (std::size_t n = file->Read(buffer.data(), buffer.size()))
                received.append(buffer, 0, n);
            ADD_FAILURE() << path << ": a stalled body was read as complete";
        } catch (const CInternetException& e) {
            EXPECT_FALSE(e.IsCancel()) << path;
            EXPECT_NE(e.GetErrorMessage().find("too slow"), std::string::npos) << e.GetErrorMessage();
        }
        EXPECT_EQ(received, std::string(sent, 'x')) << path;
        // The server still holds the body back: the read ended at our limit, not at its end.
        EXPECT_EQ(server.Stalling(), ++stalled) << path;
    }
}

TEST_F(InternetTest, CancelEndsAWaitingReadAndAWaitingRequest)
{
    server.Http().Get("/stall", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content_provider(100000, "application/octet-stream", [&](size_t, size_t, httplib::DataSink& sink) {
            sink.write("0123456789", 10);
            server.Stall(60s);
            return false;
        });
    });
    server.Http().Get("/silent", [&](const httplib::Request&, httplib::Response&) { server.Stall(60s); });
    server.Start();
    std::atomic<bool> cancel{false};
    session.SetCancelFlag(&cancel);

    // Cancels once the server holds `stalls` responses back. Without the cancel, each wait
    // would last the session's stall limit and end with a timeout instead.
    auto cancelWhenStalling = [&](int stalls) {
        cancel = false;
        return std::thread([&, stalls] {
            server.WaitUntilStalling(stalls);
            cancel = true;
        });
    };
    char buffer[8192];
    auto file = session.OpenURL(server.Url("/stall"));
    std::thread canceller = cancelWhenStalling(1);
    try {
        file->Read(buffer, sizeof buffer);
        ADD_FAILURE() << "the read was not cancelled";
    } catch (const CInternetException& e) {
        EXPECT_TRUE(e.IsCancel()) << e.GetErrorMessage();
    }
    canceller.join();
    EXPECT_EQ(server.Stalling(), 1);  // the body was still held back

    canceller = cancelWhenStalling(2);
    try {
        session.OpenURL(server.Url("/silent"));
        ADD_FAILURE() << "the request was not cancelled";
    } catch (const CInternetException& e) {
        EXPECT_TRUE(e.IsCancel()) << e.GetErrorMessage();
    }
    canceller.join();
    EXPECT_EQ(server.Stalling(), 2);  // and so were the headers
}

TEST_F(InternetTest, OneConnectionServesManyRequests)
{
    std::mutex mutex;
    std::set<int> clientPorts;
    server.Http().Get(R"(/file(\d+))", [&](const httplib::Request& req, httplib::Response& res) {
        {
            std::lock_guard lock(mutex);
            clientPorts.insert(req.remote_port);
        }
        res.status = req.matches[1] == "7" ? 404 : 200;
        res.set_content(Pattern(20000 + std::stoi(req.matches[1])), "application/octet-stream");
    });
    server.Http().set_keep_alive_max_count(100);
    server.Start();

    for (int i = 0; i < 25; ++i) {
        auto file = session.OpenURL(server.Url("/file" + std::to_string(i)));
        EXPECT_EQ(ReadAll(*file), Pattern(20000 + i));
        file->Close();
    }
    EXPECT_EQ(clientPorts.size(), 1u);
}

TEST_F(InternetTest, RedirectsAreFollowedAndHeadersOnlyRequestsCarryNoBody)
{
    server.Http().Get("/old", [&](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/moved", 302);
    });
    server.Http().Get("/moved", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content("the new place", "text/plain");
    });
    server.Start();

    auto file = session.OpenURL(server.Url("/old"));
    EXPECT_EQ(file->QueryStatus(), 200);
    EXPECT_EQ(ReadAll(*file), "the new place");

    file = session.OpenURL(server.Url("/moved"), CInternetSession::Request::Headers);
    EXPECT_EQ(file->QueryStatus(), 200);
    EXPECT_EQ(file->QueryContentLength(), 13u);
    char buffer[64];
    EXPECT_EQ(file->Read(buffer, sizeof buffer), 0u);
}

TEST_F(InternetTest, AResponseLeftOpenIsClosedByTheNextRequest)
{
    const std::string body = Pattern(2 * 1024 * 1024);
    server.Http().Get("/big", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(body, "application/octet-stream");
    });
    server.Http().Get("/small", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content("small", "text/plain");
    });
    server.Start();

    auto first = session.OpenURL(server.Url("/big"));
    char buffer[100];
    EXPECT_EQ(first->Read(buffer, sizeof buffer), sizeof buffer);
    auto second = session.OpenURL(server.Url("/small"));
    EXPECT_EQ(first->Read(buffer, sizeof buffer), 0u);  // no longer the response in progress
    first.reset();
    EXPECT_EQ(ReadAll(*second), "small");
}

}  // namespace
