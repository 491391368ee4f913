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
    std::string text;
    int status = 0;
    EXPECT_EQ(ReadUrlText(server.Url("/update/update.xml"), text, *session, &status), 0);
    EXPECT_EQ(text, "server says no");
    EXPECT_EQ(status, 500);
    ClosedPort closed;
    EXPECT_EQ(ReadUrlText(closed.Url("/"), text, *session), 493);
    EXPECT_EQ(text, "");
}

}  // namespace
