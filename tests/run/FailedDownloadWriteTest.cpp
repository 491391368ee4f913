// A whole run whose disk fails it, through the platform's table of file calls
// (platform/FileCalls.h): a download's write that finds the disk full fails the run with the
// system's sentence for it, and a journal that cannot be flushed fails the installation; either
// way the installed file is as it was and the lobby is not started.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/run/RunFixture.h"
#include "tests/support/FileCallFaults.h"

namespace {

class FailedDownloadWriteTest : public UpdateRunTest {};

TEST_F(FailedDownloadWriteTest, ADiskThatFailsTheRunLeavesTheInstallationAsItWasAndSaysWhy)
{
    const std::string contents(300000, 'n');
    Publish(contents, [&](httplib::Response& res) { res.set_content(contents, "application/octet-stream"); });
    struct Case {
        FileCall call;
        FileError error;
        std::string failure;  // what the run shows, after the download's own temporary path
    } cases[] = {
        {FileCall::kWrite, FileError::kDiskFull, std::string("a.dat.dtm: ") + std::strerror(ENOSPC)},
        {FileCall::kFlush, FileError::kDeviceError, "无法记录安装步骤（磁盘读写出错），已停止更新。"},
    };
    for (const Case& c : cases) {
        TempDir game;
        game.Write("a.dat", "old");
        RunValues values = Values(server.Url("/update/"));
        values.strInstallDir = game.Dir();
        values.strTempDir = game.Dir() + "tmp";
        values.bCheckCache = false;  // its record is the first file a run writes, and a failed one is passed over
        handBacks = 0;
        RecordingView failed;
        {
            CFileCallFault fault(c.call, 1, c.error);
            UpdateRun run(values, [this] { ++handBacks; });
            run.AddView(failed);
            run.Start();
            ASSERT_TRUE(failed.WaitForClose());
        }
        const std::vector<std::string> steps = failed.Steps();
        const auto shown = std::find_if(steps.begin(), steps.end(), [](const std::string& step) { return step.starts_with("failure: "); });
        ASSERT_NE(shown, steps.end());
        EXPECT_NE(shown->find(c.failure + " | "), std::string::npos) << *shown;
        EXPECT_EQ(ReadWholeFile(game.Path() / "a.dat"), "old") << *shown;
        EXPECT_EQ(handBacks, 0);
    }
}

}  // namespace
