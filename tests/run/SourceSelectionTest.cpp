#include <gtest/gtest.h>

#include "run/SourceSelection.h"
#include "download/DownloadMgr.h"
#include "download/UpdateSession.h"
#include "manifest/PackageName.h"
#include "tests/support/EventLog.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace {

TEST(PackageNameTest, EveryXmlBecomesZip)
{
    EXPECT_EQ(PackageName("Game7.xml"), "Game7.zip");
    EXPECT_EQ(PackageName("a.xml.xml"), "a.zip.zip");
    EXPECT_EQ(PackageName(".xml"), ".zip");
    EXPECT_EQ(PackageName("update.XML"), "update.XML");
}

class SourceSelectionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server.Http().Get("/update/Game7.xml", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<manifest><filelist><file filename='m.dat' filesize='5' fileversion='1' md5='x'/></filelist></manifest>",
                            "text/xml");
        });
    }
    bool Queue(const std::string& baseURL)
    {
        EXPECT_TRUE(mgr.Initialize(&sink, {baseURL, installDir, installDir, false}));
        choice = QueueUpdate({.strInstallDir = installDir, .strBaseURL = baseURL, .strManifestName = "Game7.xml", .bManifestMode = false,
                              .pSession = session.get()},
                             mgr);
        return choice.bQueued;
    }
    std::string Queued() const { return mgr.GetTasks().empty() ? "" : mgr.GetTasks()[0]->szName; }

    TestServer server;
    std::unique_ptr<CInternetSession> session = OpenUpdateSession();
    TempDir install;
    std::string installDir = install.Dir();
    SourceChoice choice;
    EventLog sink;
    CDownloadMgr mgr;
};

TEST_F(SourceSelectionTest, AnyAnswerButNotFoundQueuesThePackageWithItsLength)
{
    server.Http().Get("/update/Game7.zip", [](const httplib::Request&, httplib::Response& res) {
        res.status = 500;
        res.set_content(std::string(3000, 'e'), "text/plain");
    });
    server.Start();
    EXPECT_TRUE(Queue(server.Url("/update/")));
    EXPECT_EQ(Queued(), "Game7.zip");
    EXPECT_EQ(choice.nTotalSize, 3000u);
    EXPECT_FALSE(mgr.GetSetup().bManifestMode);
}

// A server that answers with an error is passed over for a mirror that has the package; alone it
// is taken to have it, and the download meets the error.
TEST_F(SourceSelectionTest, AServerThatAnswersTheProbeWithAnErrorIsPassedOverForAMirrorThatHasThePackage)
{
    server.Http().Get("/update/Game7.zip", [](const httplib::Request&, httplib::Response& res) {
        res.status = 500;
        res.set_content(std::string(3000, 'e'), "text/plain");
    });
    server.Start();
    TestServer mirror;
    mirror.Http().Get("/update/Game7.zip", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(5000, 'z'), "application/zip");
    });
    mirror.Start();
    ASSERT_TRUE(mgr.Initialize(&sink, {server.Url("/update/"), installDir, installDir, false, nullptr, 1, true, {},
                                       {mirror.Url("/update/")}}));
    choice = QueueUpdate({.strInstallDir = installDir, .strBaseURL = server.Url("/update/"),
                          .mirrorBaseURLs = {mirror.Url("/update/")}, .strManifestName = "Game7.xml", .bManifestMode = false,
                          .pSession = session.get()},
                         mgr);
    EXPECT_TRUE(choice.bQueued);
    EXPECT_EQ(choice.nTotalSize, 5000u);  // the mirror's package, not the error page
}

TEST_F(SourceSelectionTest, APackageWithoutLengthLeavesTheTotalAlone)
{
    server.Http().Get("/update/Game7.zip", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("application/zip", [](size_t, httplib::DataSink& sink) {
            sink.write("PK", 2);
            sink.done();
            return true;
        });
    });
    server.Start();
    EXPECT_TRUE(Queue(server.Url("/update/")));
    EXPECT_EQ(Queued(), "Game7.zip");
    EXPECT_EQ(choice.nTotalSize, 0u);
}

TEST_F(SourceSelectionTest, NotFoundFallsBackToTheManifestOnce)
{
    server.Start();  // no package: the server answers 404
    EXPECT_TRUE(Queue(server.Url("/update/")));
    EXPECT_TRUE(mgr.GetSetup().bManifestMode);
    EXPECT_EQ(Queued(), "m.dat");
    EXPECT_EQ(choice.nTotalSize, 5u);
}

TEST_F(SourceSelectionTest, AnUnreachableServerFallsBackToTheManifestWhichFailsToo)
{
    ClosedPort closed;
    EXPECT_FALSE(Queue(closed.Url("/update/")));
    EXPECT_EQ(choice.strMessage, "Error line:493\n");
    EXPECT_TRUE(mgr.GetSetup().bManifestMode);
    EXPECT_TRUE(mgr.GetTasks().empty());
}

}  // namespace
