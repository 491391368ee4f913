// Reading a document whole over the run's session.

#include <gtest/gtest.h>

#include <atomic>

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
