// Several files at once, each over a connection of its own: every file arrives whole with exact
// totals, the events come one at a time, the first failure stops the others, and a cancel ends
// them all.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "download/DownloadMgr.h"
#include "tests/download/TestDownloadMgr.h"
#include "tests/support/EventLog.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

using namespace std::chrono_literals;

namespace {

// Without a step after its downloads, the manager only downloads.
using DownloadOnlyMgr = TestDownloadMgr;

std::string Body(int i)
{
    return std::string(static_cast<std::size_t>(1000 + i * 7919), static_cast<char>('a' + i % 26));
}

class ParallelDownloadTest : public ::testing::Test {
protected:
    // Serves f<N>.dat; `hold` runs in the handler before it answers, and gives its status.
    void ServeFiles(int count, std::function<int(int)> hold = {})
    {
        server.Http().Get(R"(/update/f(\d+)\.dat)", [this, hold](const httplib::Request& req, httplib::Response& res) {
            const int i = std::stoi(req.matches[1]);
            {
                std::lock_guard lock(mutex);
                mostAtOnce = std::max(mostAtOnce, ++atOnce);
            }
            res.status = hold ? hold(i) : 200;
            if (res.status == 200)
                res.set_content(Body(i), "application/octet-stream");
            std::lock_guard lock(mutex);
            --atOnce;
        });
        server.Start();
        mgr.Initialize(&log, {server.Url("/update/"), install.Dir() + "tmp", install.Dir(), true, nullptr, 4});
        for (int i = 0; i < count; ++i)
            mgr.AddTask(("f" + std::to_string(i) + ".dat").c_str());
    }

    TestServer server;
    TempDir install;
    EventLog log;
    DownloadOnlyMgr mgr;
    std::mutex mutex;
    int atOnce = 0;
    int mostAtOnce = 0;
};

TEST_F(ParallelDownloadTest, EveryFileArrivesWholeWithExactTotalsAndOneEventAtATime)
{
    std::atomic<int> inEvent{0};
    std::atomic<bool> overlapped{false};
    log.onEvent = [&](const RecordedEvent&) {
        overlapped = overlapped || inEvent++ > 0;
        std::this_thread::yield();
        --inEvent;
    };
    // The first request waits for a second one: the files really go at once.
    std::condition_variable second;
    ServeFiles(24, [&](int) {
        std::unique_lock lock(mutex);
        second.notify_all();
        second.wait_for(lock, 5s, [&] { return atOnce >= 2; });
        return 200;
    });
    EXPECT_EQ(mgr.Run(), RunEnd::Done);
    EXPECT_GE(mostAtOnce, 2);
    EXPECT_LE(mostAtOnce, 4);
    EXPECT_FALSE(overlapped);
    std::uint64_t total = 0;
    for (int i = 0; i < 24; ++i) {
        EXPECT_EQ(ReadWholeFile(install.Path() / ("tmp/f" + std::to_string(i) + ".dat.dtm")), Body(i)) << i;
        total += Body(i).size();
    }
    EXPECT_EQ(log.TotalDone(), total);
    const std::vector<int> codes = log.Codes();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), DOWNLOAD_EVENT_RESET), 24);
    EXPECT_EQ(codes.back(), DOWNLOAD_EVENT_INSTALLING);
    for (const auto& task : mgr.GetTasks())
        EXPECT_TRUE(task->bDownloaded) << task->szName;
}

TEST_F(ParallelDownloadTest, TheFirstFailureStopsTheOthersAndIsTheOneTold)
{
    // f0 is missing, said once the others are all held back by the server.
    ServeFiles(4, [&](int i) {
        if (i != 0) {
            server.Stall(60s);
            return 200;
        }
        server.WaitUntilStalling(3);
        return 404;
    });
    EXPECT_EQ(mgr.Run(), RunEnd::Failed);
    const std::vector<int> codes = log.Codes();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), DOWNLOAD_EVENT_ERROR), 1);
    EXPECT_EQ(log.Last(), (RecordedEvent{0, 0, DOWNLOAD_EVENT_ERROR, "下载 f0.dat 文件失败"}));
    EXPECT_EQ(std::count(codes.begin(), codes.end(), DOWNLOAD_EVENT_INSTALLING), 0);
}

TEST_F(ParallelDownloadTest, ACancelEndsEveryConnection)
{
    ServeFiles(8, [&](int) {
        server.Stall(60s);
        return 200;
    });
    std::thread canceller([&] {
        server.WaitUntilStalling(4);
        mgr.Cancel();
    });
    EXPECT_EQ(mgr.Run(), RunEnd::Cancelled);
    canceller.join();
    const std::vector<int> codes = log.Codes();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), DOWNLOAD_EVENT_CLOSE), 1);
    EXPECT_EQ(codes.back(), DOWNLOAD_EVENT_CLOSE);
    for (const auto& task : mgr.GetTasks())
        EXPECT_FALSE(task->bDownloaded) << task->szName;
}

TEST_F(ParallelDownloadTest, ACancelBeforeTheInstallationIsNeverLostAndOneAfterItBeganIsRefused)
{
    ServeFiles(3);
    // Cancelled once the last file has arrived, before the installation may begin.
    int done = 0;
    bool accepted = false;
    log.onEvent = [&](const RecordedEvent& e) {
        if (e.nEvent == DOWNLOAD_EVENT_RESET && ++done == 3)
            accepted = mgr.Cancel();
    };
    EXPECT_EQ(mgr.Run(), RunEnd::Cancelled);
    EXPECT_TRUE(accepted);
    EXPECT_EQ(log.Last().nEvent, DOWNLOAD_EVENT_CLOSE);
    EXPECT_FALSE(mgr.Downloading());

    // Cancelled before the worker ran: nothing is asked of the server.
    DownloadOnlyMgr early;
    EventLog earlyLog;
    early.Initialize(&earlyLog, {server.Url("/update/"), install.Dir() + "tmp", install.Dir(), true, nullptr, 4});
    early.AddTask("f0.dat");
    EXPECT_TRUE(early.Cancel());
    EXPECT_EQ(early.Run(), RunEnd::Cancelled);
    EXPECT_EQ(earlyLog.Codes(), std::vector<int>{DOWNLOAD_EVENT_CLOSE});

    // Once the installation may begin, there is nothing left to cancel.
    DownloadOnlyMgr late;
    EventLog lateLog;
    late.Initialize(&lateLog, {server.Url("/update/"), install.Dir() + "tmp", install.Dir(), true, nullptr, 4});
    late.AddTask("f1.dat");
    bool refused = false;
    lateLog.onEvent = [&](const RecordedEvent& e) {
        if (e.nEvent == DOWNLOAD_EVENT_INSTALLING)
            refused = !late.Cancel();
    };
    EXPECT_EQ(late.Run(), RunEnd::Done);
    EXPECT_TRUE(refused);
    EXPECT_FALSE(late.CancelRequested());
}

}  // namespace
