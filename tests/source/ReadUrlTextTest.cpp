// Reading a document whole over the run's session.

#include <gtest/gtest.h>

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

}  // namespace
