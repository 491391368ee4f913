// A download that meets a passing failure is tried again from the byte it reached, within the run
// and in the next one; what cannot be met again fails at once.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <utime.h>

#include <thread>

#include <atomic>
#include <cstdio>
#include <condition_variable>
#include <filesystem>

#include "digest/MD5Checksum.h"
#include "download/DownloadMgr.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "tests/download/TestDownloadMgr.h"
#include "tests/support/EventLog.h"
#include "tests/support/Nginx.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

using namespace std::chrono_literals;

namespace {

// Without a step after its downloads, the manager only downloads.
using DownloadOnlyMgr = TestDownloadMgr;

std::string Pattern(std::size_t size, int seed)
{
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        body[i] = static_cast<char>((i * 131 + static_cast<std::size_t>(seed) * 17 + i / 4093) & 0xFF);
    return body;
}

tagExpectedFile Describe(const std::string& body)
{
    CMD5Checksum md5;
    md5.Update(body.data(), body.size());
    return {body.size(), CMD5Checksum::ToHex(md5.Final()), "", std::nullopt};
}

struct Request {
    std::string range;
    std::string ifRange;
};

class RetryResumeTest : public ::testing::Test {
protected:
    DownloadSetup Setup(const std::string& baseURL, std::vector<std::chrono::milliseconds> pauses = {0ms, 0ms, 0ms})
    {
        DownloadSetup setup{baseURL, install.Dir() + "tmp", install.Dir()};
        setup.retries.pauses = std::move(pauses);
        return setup;
    }

    // Serves the body with its length and ETag, honouring a Range; the first `drops` answers
    // close the connection after `dropAfter` bytes of their own.
    void ServeDropping(const std::string& name, const std::string& body, int drops, std::size_t dropAfter)
    {
        server.Http().Get("/update/" + name, [=, this](const httplib::Request& req, httplib::Response& res) {
            const int answer = Record(req);
            res.set_header("ETag", "\"v1\"");
            res.set_content_provider(body.size(), "application/octet-stream",
                                     [=, this](size_t offset, size_t length, httplib::DataSink& sink) {
                                         const std::size_t chunk = std::min<std::size_t>(length, 65536);
                                         if (answer < drops && SentBy(answer, 0) >= dropAfter)
                                             return false;  // the connection closes mid-body
                                         sink.write(body.data() + offset, chunk);
                                         SentBy(answer, chunk);
                                         bytesSent += chunk;
                                         return true;
                                     });
        });
    }

    int Record(const httplib::Request& req)
    {
        std::lock_guard lock(mutex);
        requests.push_back({req.get_header_value("Range"), req.get_header_value("If-Range")});
        changed.notify_all();
        return static_cast<int>(requests.size()) - 1;
    }

    // Counts `more` bytes sent by the answer; what it has sent so far.
    std::size_t SentBy(int answer, std::size_t more)
    {
        std::lock_guard lock(mutex);
        return sentByAnswer[answer] += more;
    }

    // The server's threads use what the test holds: they end first.
    void TearDown() override { server.Stop(); }

    std::string Temp(const std::string& name) const { return install.Dir() + "tmp/" + name; }

    TestServer server;
    TempDir install;
    EventLog log;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Request> requests;
    std::map<int, std::size_t> sentByAnswer;
    std::atomic<std::size_t> bytesSent{0};
};

TEST_F(RetryResumeTest, ABodyDroppedTwiceIsContinuedFromTheByteReached)
{
    const std::string body = Pattern(30u << 20, 1);
    ServeDropping("big.dat", body, 2, 10u << 20);
    server.Start();
    DownloadOnlyMgr mgr;
    mgr.Initialize(&log, Setup(server.Url("/update/")));
    mgr.AddTask("big.dat", Describe(body));
    ASSERT_EQ(mgr.Run(), RunEnd::Done) << log.Last();

    EXPECT_TRUE(ReadWholeFile(Temp("big.dat.dtm")) == body);
    EXPECT_FALSE(PathFileExists(Temp("big.dat.dtm.resume")));  // a complete file needs no note
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].range, "");
    for (int i : {1, 2}) {
        EXPECT_TRUE(requests[i].range.starts_with("bytes=")) << requests[i].range;
        EXPECT_GE(std::stoull(requests[i].range.substr(6)), static_cast<std::uint64_t>(i) * (10u << 20) - (1u << 20));
        EXPECT_EQ(requests[i].ifRange, "\"v1\"");
    }
    std::printf("the server sent %zu bytes for a file of %zu (%.3fx) over three connections\n", bytesSent.load(),
                body.size(), static_cast<double>(bytesSent.load()) / static_cast<double>(body.size()));
    EXPECT_LE(bytesSent.load(), body.size() * 11 / 10);
    // The totals count each byte once: the run's is the file's size.
    EXPECT_EQ(log.TotalDone(), body.size());
}

TEST_F(RetryResumeTest, HeldBytesThatDoNotMakeTheFileAreDroppedAndTheFileFetchedWhole)
{
    const std::string body = Pattern(300000, 7);
    ServeDropping("a.dat", body, 0, 0);
    server.Start();
    // What an earlier run left, damaged since (zeros where its last bytes were), under a note
    // that matches the server's validator.
    install.Write("tmp/a.dat.dtm", body.substr(0, 100000) + std::string(100000, '\0'));
    install.Write("tmp/a.dat.dtm.resume",
                  "KesuUpdate held download 1\nmd5 " + Describe(body).strMd5 + " size 300000\n\"v1\"\n");
    DownloadOnlyMgr mgr;
    mgr.Initialize(&log, Setup(server.Url("/update/")));
    mgr.AddTask("a.dat", Describe(body));
    ASSERT_EQ(mgr.Run(), RunEnd::Done) << log.Last();
    EXPECT_TRUE(ReadWholeFile(Temp("a.dat.dtm")) == body);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].range, "bytes=200000-");
    EXPECT_EQ(requests[1].range, "");
}

TEST_F(RetryResumeTest, PassingStatusesAreTriedAgainWhileOtherFailuresEndTheRunAtOnce)
{
    const std::string body = "the file, at last";
    int busyAnswers = 0;
    server.Http().Get("/update/busy.dat", [&](const httplib::Request& req, httplib::Response& res) {
        Record(req);
        switch (busyAnswers++) {
        case 0:
            res.status = 503;
            break;
        case 1:
            res.status = 429;
            res.set_header("Retry-After", "3600");
            break;
        default:
            res.set_content(body, "application/octet-stream");
        }
    });
    server.Http().Get("/update/wrong.dat", [&](const httplib::Request& req, httplib::Response& res) {
        Record(req);
        res.set_content("not what the manifest says", "application/octet-stream");
    });
    server.Start();
    TempDir logDir;
    OpenLogFile(logDir.Dir() + "run.log", 1 << 20);
    DownloadSetup setup = Setup(server.Url("/update/"));
    setup.retries.retryAfterLimit = 40ms;  // the hour asked for is cut to this
    DownloadOnlyMgr mgr;
    mgr.Initialize(&log, setup);
    mgr.AddTask("busy.dat", Describe(body));
    EXPECT_EQ(mgr.Run(), RunEnd::Done) << log.Last();
    EXPECT_EQ(requests.size(), 3u);
    EXPECT_EQ(ReadWholeFile(Temp("busy.dat.dtm")), body);

    for (const char* name : {"missing.dat", "wrong.dat"}) {
        requests.clear();
        DownloadOnlyMgr failing;
        failing.Initialize(&log, setup);
        failing.AddTask(name, Describe(body));
        EXPECT_EQ(failing.Run(), RunEnd::Failed) << name;
        EXPECT_EQ(log.Last().text, std::string("下载 ") + name + " 文件失败");
        EXPECT_LE(requests.size(), 1u) << name;  // the 404 is the server's own, and not recorded
    }
    CloseLogFile();
    const std::string written = ReadWholeFile(logDir.Path() / "run.log");
    EXPECT_NE(written.find("busy.dat?md5=" + Describe(body).strMd5 + ": answered 503; try 2 in 0 ms"), std::string::npos)
        << written;
    EXPECT_NE(written.find("answered 429; try 3 in 40 ms"), std::string::npos) << written;
}

TEST_F(RetryResumeTest, ACancelEndsAPauseAtOnce)
{
    server.Http().Get("/update/busy.dat", [&](const httplib::Request& req, httplib::Response& res) {
        Record(req);
        res.status = 503;
    });
    server.Start();
    DownloadOnlyMgr mgr;
    mgr.Initialize(&log, Setup(server.Url("/update/"), {1h}));
    mgr.AddTask("busy.dat");
    ASSERT_TRUE(mgr.Start());
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 20s, [&] { return !requests.empty(); }));
    }
    EXPECT_TRUE(mgr.Cancel());
    // Longer than the test may run, had the pause been waited out.
    EXPECT_EQ(mgr.WaitForWorker(60s), RunEnd::Cancelled);
    EXPECT_EQ(log.Last().nEvent, DOWNLOAD_EVENT_CLOSE);
}

TEST_F(RetryResumeTest, AFileAnEarlierRunFinishedIsKeptWithoutARequest)
{
    const std::string a = Pattern(100000, 2), b = Pattern(5000, 3);
    bool bServed = false;
    server.Http().Get(R"(/update/(.*))", [&](const httplib::Request& req, httplib::Response& res) {
        Record(req);
        if (req.matches[1] == "a.dat")
            res.set_content(a, "application/octet-stream");
        else if (bServed)
            res.set_content(b, "application/octet-stream");
        else
            res.status = 404;
    });
    server.Start();
    for (int run = 0; run < 2; ++run) {
        requests.clear();
        DownloadOnlyMgr mgr;
        mgr.Initialize(&log, Setup(server.Url("/update/")));
        mgr.AddTask("a.dat", Describe(a));
        mgr.AddTask("b.dat", Describe(b));
        EXPECT_EQ(mgr.Run(), run == 0 ? RunEnd::Failed : RunEnd::Done);
        EXPECT_EQ(requests.size(), run == 0 ? 2u : 1u);  // the second run asks for b.dat alone
        EXPECT_EQ(log.TotalDone(), run == 0 ? a.size() : a.size() + b.size());
        bServed = true;
    }
    EXPECT_TRUE(ReadWholeFile(Temp("a.dat.dtm")) == a);
    EXPECT_EQ(ReadWholeFile(Temp("b.dat.dtm")), b);
}

// Against nginx's own Range and If-Range: what a cancelled run got is continued by the next, and
// a file replaced on the server since is fetched whole.
class ResumeAcrossRunsTest : public RetryResumeTest {
protected:
    void SetUp() override
    {
        if (NginxBinary().empty())
            GTEST_SKIP() << "nginx is not installed";
        ::chmod(site.Path().c_str(), 0755);
    }

    // Runs until `stopAt` bytes of the file arrived, then cancels.
    void RunUntil(Nginx& nginx, const std::string& name, std::optional<tagExpectedFile> expected, std::uint64_t stopAt)
    {
        DownloadOnlyMgr mgr;
        EventLog events;
        events.onEvent = [&](const RecordedEvent& event) {
            if (event.nEvent == DOWNLOAD_EVENT_PROGRESS && event.nParam1 >= stopAt)
                mgr.Cancel();
        };
        mgr.Initialize(&events, Setup(nginx.Url("/update/")));
        mgr.AddTask(name.c_str(), std::move(expected));
        ASSERT_EQ(mgr.Run(), RunEnd::Cancelled);
    }

    TempDir site;
};

TEST_F(ResumeAcrossRunsTest, TheNextRunFetchesOnlyWhatTheCancelledOneLacked)
{
    const std::string body = Pattern(30u << 20, 4);
    site.Write("update/game.pak", body);
    Nginx nginx(site.Path().string(), "    limit_rate 40m;\n");
    RunUntil(nginx, "game.pak", Describe(body), 20u << 20);
    const std::uintmax_t heldBefore = std::filesystem::file_size(Temp("game.pak.dtm"));
    ASSERT_GE(heldBefore, 20u << 20);
    // nginx logs the cut request once it has seen the connection go.
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (nginx.RequestCount() < 1) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "nginx never logged the cancelled request";
        std::this_thread::sleep_for(10ms);
    }
    const std::uint64_t before = nginx.BodyBytesSent();

    DownloadOnlyMgr mgr;
    mgr.Initialize(&log, Setup(nginx.Url("/update/")));
    mgr.AddTask("game.pak", Describe(body));
    ASSERT_EQ(mgr.Run(), RunEnd::Done) << log.Last();
    EXPECT_TRUE(ReadWholeFile(Temp("game.pak.dtm")) == body);
    const std::uint64_t second = nginx.BodyBytesSent() - before;
    std::printf("the cancelled run stored %ju bytes; the next run fetched %ju bytes of the file's %zu\n",
                static_cast<std::uintmax_t>(heldBefore), static_cast<std::uintmax_t>(second), body.size());
    EXPECT_LE(second, 12u << 20);
}

TEST_F(ResumeAcrossRunsTest, AFileReplacedOnTheServerSinceIsFetchedWhole)
{
    // A package has no digest to tell its versions apart: the server's validator does.
    const std::string first = Pattern(8u << 20, 5), second = Pattern(8u << 20, 6);
    site.Write("update/Game.zip", first);
    Nginx nginx(site.Path().string(), "    limit_rate 40m;\n");
    RunUntil(nginx, "Game.zip", std::nullopt, 2u << 20);
    site.Write("update/Game.zip", second);
    ::utime((site.Path() / "update/Game.zip").c_str(), nullptr);

    DownloadOnlyMgr mgr;
    DownloadSetup setup = Setup(nginx.Url("/update/"));
    setup.bManifestMode = false;
    mgr.Initialize(&log, setup);
    mgr.AddTask("Game.zip");
    ASSERT_EQ(mgr.Run(), RunEnd::Done) << log.Last();
    EXPECT_TRUE(ReadWholeFile(Temp("Game.zip")) == second);
}

}  // namespace
