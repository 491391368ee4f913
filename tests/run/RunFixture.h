#pragma once
// A whole run through UpdateRun against a server on 127.0.0.1, seen through a view that records
// what it is told: the fixture of the run's tests.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "digest/MD5Checksum.h"
#include "run/UpdateRun.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"


inline std::string Md5(const std::string& data)
{
    CMD5Checksum md5;
    md5.Update(data.data(), data.size());
    return CMD5Checksum::ToHex(md5.Final());
}

// Records every step but progress, whose last one it keeps. Steps come from two threads.
class RecordingView : public IUpdateView {
public:
    void ShowSplash() override { Add("splash"); }
    void ShowPanel(std::uint64_t nTotalSize) override { Add("panel " + std::to_string(nTotalSize)); }
    void ShowTotalSize(std::uint64_t nTotalSize) override { Add("total " + std::to_string(nTotalSize)); }
    void ShowFileStart(std::uint64_t nFileSize) override { Add("file " + std::to_string(nFileSize)); }
    void ShowProgress(const UpdateProgress& progress) override
    {
        std::lock_guard lock(m_mutex);
        lastProgress = progress;
        lastFile = progress.lpszFile;
    }
    void ShowFileDone() override { Add("done"); }
    void ShowInstalling() override
    {
        Add("installing");
        if (onInstalling)
            onInstalling();
    }
    void ShowMessage(const std::string& strText) override { Add("message: " + strText); }
    void ShowFailure(const std::string& strCause, const std::string& strWhere) override
    {
        Add("failure: " + strCause + " | " + strWhere);
    }
    void ShowUpToDate() override { Add("up to date"); }
    void Close() override { Add("close"); }

    // Waits until the view was closed; false when it was not within 20 s.
    bool WaitForClose()
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(20), [&] { return !steps.empty() && steps.back() == "close"; });
    }
    std::vector<std::string> Steps()
    {
        std::lock_guard lock(m_mutex);
        return steps;
    }

    std::function<void()> onInstalling;
    std::vector<std::string> steps;
    UpdateProgress lastProgress;
    std::string lastFile;

private:
    void Add(std::string step)
    {
        std::lock_guard lock(m_mutex);
        steps.push_back(std::move(step));
        m_changed.notify_all();
    }
    std::mutex m_mutex;
    std::condition_variable m_changed;
};

inline constexpr const char* kWhereToGetTheGame = "更新失败，请到https://www.kesu.example.com/download/下载最新版本";

class UpdateRunTest : public ::testing::Test {
protected:
    // The settings file is looked for in the current directory: this one has none.
    void SetUp() override
    {
        previous = std::filesystem::current_path();
        std::filesystem::current_path(cwd.Path());
    }
    void TearDown() override { std::filesystem::current_path(previous); }

    // A manifest of one file a.dat with these contents; the server sends `served` for it.
    void Publish(const std::string& contents, std::function<void(httplib::Response&)> served)
    {
        const std::string manifest = "<manifest><filelist><file filename=\"a.dat\" filesize=\"" +
                                     std::to_string(contents.size()) + "\" fileversion=\"1\" md5=\"" + Md5(contents) +
                                     "\"/></filelist></manifest>";
        server.Http().Get("/update/update.xml", [manifest](const httplib::Request&, httplib::Response& res) {
            res.set_content(manifest, "text/xml");
        });
        server.Http().Get("/update/a.dat", [served](const httplib::Request&, httplib::Response& res) { served(res); });
        server.Start();
    }
    RunValues Values(const std::string& baseURL) const
    {
        RunValues values;
        values.strManifestName = "update.xml";
        values.strInstallDir = install.Dir();
        values.strBaseURL = baseURL;
        values.strTempDirSetting = "tmp";
        values.strTempDir = install.Dir() + "tmp";
        return values;
    }
    // Runs to its end (its view closed) and returns the steps.
    std::vector<std::string> RunToTheEnd(const RunValues& values)
    {
        UpdateRun run(values, [this] { ++handBacks; });
        run.AddView(view);
        run.Start();
        EXPECT_TRUE(view.WaitForClose());
        return view.Steps();
    }

    std::filesystem::path previous;
    TempDir cwd;
    TempDir install;
    TestServer server;
    RecordingView view;
    int handBacks = 0;
};
