// A disk that fills up under a download, through the platform's table of file calls: the download
// fails with the system's sentence for a full disk, naming the file being written, and no other
// write is tried once it fails; with one connection and with several, whose lanes write from
// threads of their own. (That nothing is then installed is the run's, tests/run.)

#include <gtest/gtest.h>

#include <cstring>

#include "download/DownloadMgr.h"
#include "tests/download/TestDownloadMgr.h"
#include "tests/support/EventLog.h"
#include "tests/support/FileCallFaults.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace {

// One write each: the files are smaller than the block pipeline's write.
constexpr std::size_t kFileSize = 50000;

std::string Body(int i)
{
    return std::string(kFileSize, static_cast<char>('a' + i));
}

TEST(FailedWriteTest, AFullDiskFailsTheDownloadWithItsSentence)
{
    struct Case {
        unsigned connections;
        int files;
        long failedWrite;
    } cases[] = {{1, 4, 3}, {4, 12, 5}};
    for (const Case& c : cases) {
        TestServer server;
        server.Http().Get(R"(/update/f(\d+)\.dat)", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(Body(std::stoi(req.matches[1])), "application/octet-stream");
        });
        server.Start();
        TempDir install;
        EventLog log;
        TestDownloadMgr mgr;
        DownloadSetup setup{server.Url("/update/"), install.Dir() + "tmp", install.Dir(), true, nullptr, c.connections};
        setup.retries.pauses.clear();
        mgr.Initialize(&log, setup);
        for (int i = 0; i < c.files; ++i)
            mgr.AddTask(("f" + std::to_string(i) + ".dat").c_str());

        long writes = 0;
        RunEnd end;
        {
            CFileCallFault full(FileCall::kWrite, c.failedWrite, FileError::kDiskFull);
            end = mgr.Run();
            writes = full.Calls();
        }
        EXPECT_EQ(end, RunEnd::Failed) << c.connections;
        EXPECT_EQ(log.Last().nEvent, DOWNLOAD_EVENT_ERROR) << c.connections;
        EXPECT_NE(log.Last().text.find(std::strerror(ENOSPC)), std::string::npos) << log.Last().text;
        EXPECT_NE(log.Last().text.find(".dat.dtm"), std::string::npos) << log.Last().text;
        if (c.connections == 1) {  // in the queue's order: the third file's write, and none after it
            EXPECT_NE(log.Last().text.find("f2.dat.dtm"), std::string::npos) << log.Last().text;
            EXPECT_EQ(writes, c.failedWrite);
        } else {  // the lanes still writing finish their files; none is begun after the failure
            EXPECT_GE(writes, c.failedWrite);
            EXPECT_LT(writes, c.files);
        }
    }
}

}  // namespace
