// A whole run through UpdateRun whose disk fails it, through the platform's table of file calls
// (platform/FileCalls.h): a download's write that finds the disk full fails the run with the
// system's sentence for it, and a journal that cannot be flushed fails the installation; either
// way the installed file is as it was and the lobby is not started.

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "digest/MD5Checksum.h"
#include "run/UpdateRun.h"
#include "tests/support/FileCallFaults.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

using namespace std::chrono_literals;

namespace {

// Keeps the failure the run shows and tells when the view was closed.
class FailureView : public IUpdateView {
public:
    void ShowFailure(const std::string& strCause, const std::string&) override
    {
        std::lock_guard lock(m_mutex);
        failure = strCause;
    }
    void Close() override
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        m_changed.notify_all();
    }
    bool WaitForClose()
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 20s, [&] { return m_closed; });
    }
    std::string failure;

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_closed = false;
};

TEST(FailedDownloadWriteTest, ADiskThatFailsTheRunLeavesTheInstallationAsItWasAndSaysWhy)
{
    char previous[4096] = {};
    ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
    TempDir cwd;  // where the settings file is looked for: none there
    ASSERT_EQ(::chdir(cwd.Path().c_str()), 0);

    const std::string contents(300000, 'n');
    CMD5Checksum md5;
    md5.Update(contents.data(), contents.size());
    const std::string manifest = "<manifest><filelist><file filename=\"a.dat\" filesize=\"" + std::to_string(contents.size()) +
                                 "\" fileversion=\"1\" md5=\"" + CMD5Checksum::ToHex(md5.Final()) + "\"/></filelist></manifest>";
    TestServer server;
    server.Http().Get("/update/update.xml", [&](const httplib::Request&, httplib::Response& res) { res.set_content(manifest, "text/xml"); });
    server.Http().Get("/update/a.dat", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(contents, "application/octet-stream");
    });
    server.Start();

    struct Case {
        FileCall call;
        FileError error;
        std::string failure;  // what the run shows, after the download's own temporary path
    } cases[] = {
        {FileCall::kWrite, FileError::kDiskFull, std::string("a.dat.dtm: ") + std::strerror(ENOSPC)},
        {FileCall::kFlush, FileError::kDeviceError, "无法记录安装步骤（磁盘读写出错），已停止更新。"},
    };
    for (const Case& c : cases) {
        TempDir install;
        install.Write("a.dat", "old");
        RunValues values;
        values.strManifestName = "update.xml";
        values.strInstallDir = install.Dir();
        values.strBaseURL = server.Url("/update/");
        values.strTempDirSetting = "tmp";
        values.strTempDir = install.Dir() + "tmp";
        values.bCheckCache = false;  // its record is the first file a run writes, and a failed one is passed over
        int handBacks = 0;
        FailureView view;
        {
            CFileCallFault fault(c.call, 1, c.error);
            UpdateRun run(values, [&] { ++handBacks; });
            run.AddView(view);
            run.Start();
            EXPECT_TRUE(view.WaitForClose());
        }
        EXPECT_TRUE(view.failure.ends_with(c.failure)) << view.failure;
        EXPECT_TRUE(ReadWholeFile(install.Path() / "a.dat") == "old") << view.failure;
        EXPECT_EQ(handBacks, 0);
    }
    ASSERT_EQ(::chdir(previous), 0);
}

}  // namespace
