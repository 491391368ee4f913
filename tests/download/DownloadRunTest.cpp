#include <gtest/gtest.h>

#include <sys/mount.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "download/DownloadMgr.h"
#include "download/TempNames.h"
#include "platform/FileSystem.h"
#include "tests/download/TestDownloadMgr.h"
#include "tests/support/EventLog.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

using namespace std::chrono_literals;

namespace {

// Without a step after its downloads, the manager only downloads.
using DownloadOnlyMgr = TestDownloadMgr;

std::string Pattern(std::size_t size, int seed = 0)
{
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        body[i] = static_cast<char>((i * 31 + static_cast<std::size_t>(seed) * 7 + i / 251) & 0xFF);
    return body;
}

class DownloadRunTest : public ::testing::Test {
protected:
    // A run of the engine that tries a failing download again at once: these tests are about
    // how the last try fails.
    DownloadSetup Setup(const std::string& baseURL, const std::string& tempDir) const
    {
        DownloadSetup setup{baseURL, tempDir, install.Dir(), manifestMode};
        setup.retries.pauses.assign(tries - 1, 0ms);
        return setup;
    }

    void SetUp() override
    {
        server.Http().Get(R"(/update/(.*))", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(mutex);
            requested.push_back(req.matches[1]);
            queries.push_back(req.has_param("md5") ? req.get_param_value("md5") : "");
            cacheControls.push_back(req.get_header_value("Cache-Control"));
            auto route = routes.find(req.matches[1]);
            if (route == routes.end()) {
                res.status = 404;
                res.set_content("<html><body>404 Not Found</body></html>", "text/html");
            } else {
                route->second(res);
            }
        });
    }

    void Serve(const std::string& name, const std::string& body, int status = 200)
    {
        routes[name] = [body, status](httplib::Response& res) {
            res.status = status;
            res.set_content(body, "application/octet-stream");
        };
    }

    RunEnd Run(std::initializer_list<const char*> names)
    {
        server.Start();
        mgr.Initialize(&log, Setup(server.Url("/update/"), install.Dir() + "tmp"));
        mgr.GetSession()->SetLimits({.connectTimeout = 5s, .stallTimeout = 1s});
        for (const char* name : names)
            mgr.AddTask(name);
        return mgr.Run();
    }

    std::string Temp(const std::string& name) const { return install.Dir() + "tmp/" + name; }

    std::mutex mutex;
    std::vector<std::string> requested;
    std::vector<std::string> queries;        // each request's md5 query, or nothing
    std::vector<std::string> cacheControls;  // each request's Cache-Control
    std::map<std::string, std::function<void(httplib::Response&)>> routes;
    TestServer server;
    TempDir install;
    EventLog log;
    bool manifestMode = true;
    std::size_t tries = 4;  // of each download
    DownloadOnlyMgr mgr;
};

TEST_F(DownloadRunTest, FilesAreStoredUnderTheirTemporaryNamesWithEveryEvent)
{
    const std::string oneBlock = Pattern(8192), twoAndAHalf = Pattern(20000, 1);
    Serve("readme.txt", oneBlock);
    Serve("data/map/town.dat", twoAndAHalf);

    EXPECT_EQ(Run({"readme.txt", "data\\map\\town.dat"}), RunEnd::Done);
    EXPECT_EQ(ReadWholeFile(Temp("readme.txt.dtm")), oneBlock);
    EXPECT_EQ(ReadWholeFile(Temp("data_map_town.dat.dtm")), twoAndAHalf);
    const std::vector<RecordedEvent> expected = {
        {0, 0, DOWNLOAD_EVENT_FILE_BEGIN, "<null>"},
        {0, 8192, DOWNLOAD_EVENT_TOTAL, "readme.txt"},
        {8192, 8192, DOWNLOAD_EVENT_PROGRESS, "readme.txt"},
        {0, 0, DOWNLOAD_EVENT_RESET, "readme.txt"},
        {0, 0, DOWNLOAD_EVENT_FILE_BEGIN, "<null>"},
        {0, 20000, DOWNLOAD_EVENT_TOTAL, "data\\map\\town.dat"},
        {8192, 16384, DOWNLOAD_EVENT_PROGRESS, "data\\map\\town.dat"},
        {16384, 24576, DOWNLOAD_EVENT_PROGRESS, "data\\map\\town.dat"},
        {20000, 28192, DOWNLOAD_EVENT_PROGRESS, "data\\map\\town.dat"},
        {0, 0, DOWNLOAD_EVENT_RESET, "data\\map\\town.dat"},
        {0, 0, DOWNLOAD_EVENT_INSTALLING, "<null>"},
    };
    EXPECT_EQ(log.Events(), expected);
    EXPECT_EQ(mgr.LastEvent(), DOWNLOAD_EVENT_INSTALLING);
    EXPECT_EQ(log.TotalDone(), 28192u);
    EXPECT_TRUE(mgr.GetTasks()[0]->bDownloaded && mgr.GetTasks()[1]->bDownloaded);
}

TEST_F(DownloadRunTest, NamesAreSentAsValidUrlsAndFlattenedAtEitherSeparator)
{
    Serve("地图 文件.dat", "chinese and a blank");
    Serve("a/b.dat", "forward slash");
    Serve("100%.dat", "percent");
    EXPECT_EQ(Run({"地图 文件.dat", "a/b.dat", "100%.dat"}), RunEnd::Done);
    EXPECT_EQ(ReadWholeFile(Temp("地图 文件.dat.dtm")), "chinese and a blank");
    EXPECT_EQ(ReadWholeFile(Temp("a_b.dat.dtm")), "forward slash");
    EXPECT_EQ(ReadWholeFile(Temp("100%.dat.dtm")), "percent");
}

TEST_F(DownloadRunTest, AFileTheManifestDescribesIsAskedForWithItsDigestAsAQuery)
{
    Serve("a.dat", "abc");
    Serve("Game7.zip", "PK...");
    server.Start();
    for (bool digestQuery : {true, false}) {
        std::filesystem::remove_all(install.Path() / "tmp");  // else the stored file is kept unasked
        DownloadOnlyMgr m;
        m.Initialize(&log, {server.Url("/update/"), install.Dir() + "tmp", install.Dir(), true, nullptr, 1, digestQuery});
        // Written as a manifest may write it: upper case, with blanks around.
        m.AddTask("a.dat", tagExpectedFile{3, " 900150983CD24FB0D6963F7D28E17F72 ", "", {}});
        m.AddTask("Game7.zip");  // nothing describes it: no digest to ask with
        EXPECT_EQ(m.Run(), RunEnd::Done);
    }
    EXPECT_EQ(requested, (std::vector<std::string>{"a.dat", "Game7.zip", "a.dat", "Game7.zip"}));
    EXPECT_EQ(queries, (std::vector<std::string>{"900150983cd24fb0d6963f7d28e17f72", "", "", ""}));
    EXPECT_EQ(cacheControls, (std::vector<std::string>(4, "")));  // files may come from a cache
}

TEST_F(DownloadRunTest, PackageModeKeepsThePackagesName)
{
    manifestMode = false;
    Serve("Game7.zip", "PK...");
    EXPECT_EQ(Run({"Game7.zip"}), RunEnd::Done);
    EXPECT_EQ(ReadWholeFile(Temp("Game7.zip")), "PK...");
}

TEST_F(DownloadRunTest, WithoutTasksOnlyInstallingIsRaised)
{
    EXPECT_EQ(Run({}), RunEnd::Done);
    EXPECT_EQ(log.Codes(), std::vector<int>{DOWNLOAD_EVENT_INSTALLING});
}

TEST_F(DownloadRunTest, ErrorPagesAndErrorStatusesFailWithoutATemporaryFile)
{
    struct Case {
        const char* name;
        std::string body;
        int status;
    } cases[] = {
        {"html.dat", "<html><body>gone</body></html>", 200},
        {"doctype.dat", "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\">", 200},
        {"missing.dat", "", 404},  // the server's own 404 page
        {"broken.dat", "Internal error, plain text", 500},
        {"forbidden.dat", "no", 403},
    };
    for (const auto& c : cases) {
        if (c.status != 404)
            Serve(c.name, c.body, c.status);
    }
    server.Start();
    for (const auto& c : cases) {
        EventLog caseLog;
        DownloadOnlyMgr m;
        m.Initialize(&caseLog, Setup(server.Url("/update/"), install.Dir() + "tmp"));
        m.AddTask(c.name);
        m.AddTask("never-reached.dat");
        EXPECT_EQ(m.Run(), RunEnd::Failed) << c.name;
        const std::vector<RecordedEvent> expected = {
            {0, 0, DOWNLOAD_EVENT_FILE_BEGIN, "<null>"},
            {0, 0, DOWNLOAD_EVENT_ERROR, std::string("下载 ") + c.name + " 文件失败"},
        };
        EXPECT_EQ(caseLog.Events(), expected) << c.name;
        EXPECT_EQ(m.LastEvent(), DOWNLOAD_EVENT_ERROR);
        EXPECT_FALSE(PathFileExists(Temp(std::string(c.name) + ".dtm"))) << c.name;
        EXPECT_FALSE(m.GetTasks()[0]->bDownloaded);
    }
}

TEST_F(DownloadRunTest, MarkersAreComparedExactlyOverTheirWholeLength)
{
    Serve("upper.dat", "<HTML>upper-case tag");
    Serve("lower.dat", "<!doctype html public>");
    Serve("short.dat", "<ht");
    Serve("empty.dat", "");
    EXPECT_EQ(Run({"upper.dat", "lower.dat", "short.dat", "empty.dat"}), RunEnd::Done);
    EXPECT_EQ(ReadWholeFile(Temp("upper.dat.dtm")), "<HTML>upper-case tag");
    EXPECT_EQ(ReadWholeFile(Temp("lower.dat.dtm")), "<!doctype html public>");
    EXPECT_EQ(ReadWholeFile(Temp("short.dat.dtm")), "<ht");
    EXPECT_TRUE(PathFileExists(Temp("empty.dat.dtm")));
    EXPECT_EQ(ReadWholeFile(Temp("empty.dat.dtm")), "");
}

TEST_F(DownloadRunTest, BodyWithoutLengthIsStoredWhole)
{
    const std::string body = Pattern(100000, 2);
    routes["chunked.dat"] = [&](httplib::Response& res) {
        res.set_chunked_content_provider("application/octet-stream", [body](size_t offset, httplib::DataSink& sink) {
            if (offset < body.size())
                sink.write(body.data() + offset, std::min<size_t>(3000, body.size() - offset));
            else
                sink.done();
            return true;
        });
    };
    EXPECT_EQ(Run({"chunked.dat"}), RunEnd::Done);
    EXPECT_EQ(ReadWholeFile(Temp("chunked.dat.dtm")), body);
    EXPECT_EQ(log.Events()[1], (RecordedEvent{0, 0, DOWNLOAD_EVENT_TOTAL, "chunked.dat"}));
    EXPECT_EQ(log.Events()[log.Events().size() - 3].nParam1, 100000u);
}

TEST_F(DownloadRunTest, BrokenTransfersFailWithTheNetworksText)
{
    const std::string body = Pattern(30000, 3);
    // Announces twice what it sends, then closes the connection.
    routes["short.dat"] = [&](httplib::Response& res) {
        res.set_content_provider(body.size() * 2, "application/octet-stream",
                                 [body](size_t offset, size_t, httplib::DataSink& sink) {
                                     if (offset >= body.size())
                                         return false;
                                     sink.write(body.data(), body.size());
                                     return true;
                                 });
    };
    // Drops the connection in the middle of a chunked body.
    routes["dropped.dat"] = [&](httplib::Response& res) {
        res.set_chunked_content_provider("application/octet-stream", [body](size_t offset, httplib::DataSink& sink) {
            if (offset >= body.size())
                return false;
            sink.write(body.data(), body.size());
            return true;
        });
    };
    server.Start();
    for (const char* name : {"short.dat", "dropped.dat"}) {
        EventLog caseLog;
        DownloadOnlyMgr m;
        m.Initialize(&caseLog, Setup(server.Url("/update/"), install.Dir() + "tmp"));
        m.AddTask(name);
        EXPECT_EQ(m.Run(), RunEnd::Failed) << name;
        RecordedEvent last = caseLog.Last();
        EXPECT_EQ(last.nEvent, DOWNLOAD_EVENT_ERROR);
        EXPECT_NE(last.text.find("ransfer"), std::string::npos) << last.text;  // libcurl's own words
        EXPECT_FALSE(m.GetTasks()[0]->bDownloaded);
    }
}

TEST_F(DownloadRunTest, StalledServerFailsTheRunAtTheStallLimit)
{
    routes["stall.dat"] = [&](httplib::Response& res) {
        res.set_content_provider(100000, "application/octet-stream", [&](size_t, size_t, httplib::DataSink&) {
            server.Stall(60s);
            return false;
        });
    };
    tries = 2;
    EXPECT_EQ(Run({"stall.dat"}), RunEnd::Failed);
    EXPECT_EQ(log.Last().nEvent, DOWNLOAD_EVENT_ERROR);
    EXPECT_NE(log.Last().text.find("Timeout"), std::string::npos) << log.Last().text;
    // The server had not given up on either try: the stall limit ended each.
    EXPECT_EQ(server.Stalling(), 2);
}

TEST_F(DownloadRunTest, RefusedConnectionAndUncreatableTemporaryFileFailWithTheirTexts)
{
    ClosedPort closed;
    DownloadOnlyMgr refused;
    refused.Initialize(&log, Setup(closed.Url("/update/"), install.Dir() + "tmp"));
    refused.AddTask("a.dat");
    EXPECT_EQ(refused.Run(), RunEnd::Failed);
    EXPECT_NE(log.Last().text.find("connect"), std::string::npos) << log.Last().text;

    // A temporary directory below a file cannot hold the download.
    EventLog fileLog;
    Serve("a/b/c.dat", "data");
    server.Start();
    install.Write("plain", "a file, not a directory");
    DownloadOnlyMgr m;
    m.Initialize(&fileLog, Setup(server.Url("/update/"), install.Dir() + "plain/tmp"));
    m.AddTask("a/b/c.dat");
    EXPECT_EQ(m.Run(), RunEnd::Failed);
    EXPECT_EQ(fileLog.Codes(), (std::vector<int>{DOWNLOAD_EVENT_FILE_BEGIN, DOWNLOAD_EVENT_TOTAL, DOWNLOAD_EVENT_ERROR}));
    EXPECT_NE(fileLog.Last().text.find("a_b_c.dat.dtm"), std::string::npos) << fileLog.Last().text;
    EXPECT_NE(fileLog.Last().text.find("Not a directory"), std::string::npos) << fileLog.Last().text;
}

TEST_F(DownloadRunTest, ADiskThatFillsUpMidwayFailsTheRunWithTheSystemsText)
{
    std::filesystem::create_directories(install.Path() / "tmp");
    if (::mount("tmpfs", (install.Path() / "tmp").c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "no small file system can be mounted here";
    Serve("big.dat", Pattern(300000));
    EXPECT_EQ(Run({"big.dat"}), RunEnd::Failed);
    EXPECT_NE(log.Last().text.find("No space left on device"), std::string::npos) << log.Last().text;
    EXPECT_EQ(::umount2((install.Path() / "tmp").c_str(), MNT_DETACH), 0);
}

TEST_F(DownloadRunTest, RedirectIsFollowed)
{
    routes["old.dat"] = [](httplib::Response& res) { res.set_redirect("/update/new.dat", 301); };
    Serve("new.dat", "moved content");
    EXPECT_EQ(Run({"old.dat"}), RunEnd::Done);
    EXPECT_EQ(ReadWholeFile(Temp("old.dat.dtm")), "moved content");
}

TEST_F(DownloadRunTest, CancelBetweenBlocksEndsTheRunAndKeepsThePartialFile)
{
    Serve("big.dat", Pattern(1000000, 4));
    Serve("next.dat", "x");
    log.onEvent = [this](const RecordedEvent& e) {
        if (e.nEvent == DOWNLOAD_EVENT_PROGRESS && e.nParam1 == 3 * 8192)
            mgr.Cancel();
    };
    EXPECT_EQ(Run({"big.dat", "next.dat"}), RunEnd::Cancelled);
    EXPECT_EQ(log.Last(), (RecordedEvent{0, 0, DOWNLOAD_EVENT_CLOSE, "<null>"}));
    EXPECT_EQ(mgr.LastEvent(), DOWNLOAD_EVENT_CLOSE);
    EXPECT_EQ(ReadWholeFile(Temp("big.dat.dtm")), Pattern(1000000, 4).substr(0, 3 * 8192));
    EXPECT_FALSE(mgr.GetTasks()[0]->bDownloaded);
    EXPECT_EQ(requested, std::vector<std::string>{"big.dat"});
}

TEST_F(DownloadRunTest, CancelEndsAWaitingRead)
{
    routes["stall.dat"] = [&](httplib::Response& res) {
        res.set_content_provider(100000, "application/octet-stream", [&](size_t, size_t, httplib::DataSink& sink) {
            sink.write("partial", 7);
            server.Stall(60s);
            return false;
        });
    };
    server.Start();
    mgr.Initialize(&log, Setup(server.Url("/update/"), install.Dir() + "tmp"));
    mgr.AddTask("stall.dat");
    // Without the cancel the read would wait out the session's 30-second stall limit and fail.
    std::thread canceller([&] {
        server.WaitUntilStalling();
        mgr.Cancel();
    });
    EXPECT_EQ(mgr.Run(), RunEnd::Cancelled);
    canceller.join();
    EXPECT_EQ(log.Last().nEvent, DOWNLOAD_EVENT_CLOSE);
    EXPECT_EQ(server.Stalling(), 1);  // the body was still held back
}

}  // namespace
