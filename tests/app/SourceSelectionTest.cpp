#include <gtest/gtest.h>

#include "app/SourceSelection.h"
#include "download/DownloadMgr.h"
#include "download/Globals.h"
#include "manifest/PackageName.h"
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
        g_strManifestName = "Game7.xml";
        g_bManifestMode = 0;
        server.Http().Get("/update/Game7.xml", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<manifest><filelist><file filename='m.dat' filesize='5' fileversion='1' md5='x'/></filelist></manifest>",
                            "text/xml");
        });
    }
    bool Queue(const std::string& baseURL)
    {
        ManifestTarget target{installDir, totalSize, mgr};
        return QueueUpdate(target, baseURL);
    }
    std::string Queued() const { return mgr.m_arrTasks.empty() ? "" : mgr.m_arrTasks[0]->szName; }

    TestServer server;
    TempDir install;
    std::string installDir = install.Dir();
    std::uint64_t totalSize = 0;
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
    EXPECT_EQ(totalSize, 3000u);
    EXPECT_EQ(g_bManifestMode, 0);
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
    EXPECT_EQ(totalSize, 0u);
}

TEST_F(SourceSelectionTest, NotFoundFallsBackToTheManifestOnce)
{
    server.Start();  // no package: the server answers 404
    EXPECT_TRUE(Queue(server.Url("/update/")));
    EXPECT_EQ(g_bManifestMode, 1);
    EXPECT_EQ(Queued(), "m.dat");
    EXPECT_EQ(totalSize, 5u);
}

TEST_F(SourceSelectionTest, AnUnreachableServerFallsBackToTheManifestWhichFailsToo)
{
    ClosedPort closed;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(Queue(closed.Url("/update/")));
    const std::string told = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(told.ends_with("\n提示: Error line:493\n")) << told;
    EXPECT_EQ(g_bManifestMode, 1);
    EXPECT_TRUE(mgr.m_arrTasks.empty());
}

}  // namespace
