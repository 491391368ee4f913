// KesuUpdate.exe closed under a window manager before its downloads begin: while its manifest
// stalls, while its first check reads the installed files, and while its mirrors fail one after
// the other. The window is painted meanwhile, and closing it ends the run as a cancel does: the
// requests are dropped, no box is shown, nothing is installed and the lobby is not started.

#include "tests/ui/UpdaterOnXvfb.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sys/stat.h>

#include "digest/MD5Checksum.h"
#include "res/Resources.h"
#include "tools/screenshot/WindowShot.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string Md5Hex(const std::string& text)
{
    CMD5Checksum md5;
    md5.Update(text.data(), text.size());
    return CMD5Checksum::ToHex(md5.Final());
}

// Whether the process holds a file open whose path holds `part`.
bool HoldsOpen(pid_t pid, const std::string& part)
{
    std::error_code error;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error))
        if (fs::read_symlink(fd.path(), error).string().find(part) != std::string::npos)
            return true;
    return false;
}

class X11StartCloseTest : public UpdaterOnXvfb {
protected:
    void SetUp() override
    {
        UpdaterOnXvfb::SetUp();
        if (IsSkipped())
            return;
        if (!OpenboxInstalled())
            GTEST_SKIP() << "openbox is not installed";
        windowManager = std::make_unique<Openbox>(display);
        install.Write("Maravel.exe", "#!/bin/sh\ntouch lobby-started\n");
        ::chmod((install.Path() / "Maravel.exe").c_str(), 0755);
        LoadBitmap(splash, IDB_SPLASH);
    }
    void Configure(const std::vector<int>& ports)
    {
        std::string settings = "[Download]\n";
        for (std::size_t i = 0; i < ports.size(); ++i)
            settings += "site" + std::to_string(i + 1) + "=127.0.0.1:" + std::to_string(ports[i]) + "\n";
        install.Write("pirvex.dll", settings + "[Setup]\nTempDir=tmp\n");
    }
    // The splash is on the screen: the window was painted while the run worked.
    bool ShowsTheSplash(Window window)
    {
        return Await([&] {
            const RECT area{0, 0, splash.Width(), splash.Height()};
            CBitmap shot;
            return TakeWindowShot(display, window, area, shot) && CountDifferences(shot, splash, area) == 0;
        });
    }
    // Closes the window as a window manager does, and expects the run to end as after a cancel.
    void CloseAndExpectACancelledRun(pid_t pid, Window window)
    {
        const auto closed = std::chrono::steady_clock::now();
        CloseWindow(display, window);
        EXPECT_EQ(WaitFor(pid, 20s), 0);
        std::printf("the run ended %lld ms after its window was closed\n",
                    static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - closed).count()));
        EXPECT_EQ(FindByName(display, "提示"), 0u) << "a box was shown";
        EXPECT_FALSE(fs::exists(install.Path() / "lobby-started"));
        const std::string log = ReadWholeFile(install.Path() / "tmp/KesuUpdate.log");
        EXPECT_NE(log.find(" end: cancelled before the downloads began\n"), std::string::npos) << log;
    }

    std::unique_ptr<Openbox> windowManager;
    CBitmap splash;
};

TEST_F(X11StartCloseTest, ClosedWhileTheManifestStallsTheRunEndsAndTheRequestIsDropped)
{
    server.Http().Get("/update/update.xml", [&](const httplib::Request&, httplib::Response& res) {
        server.Stall(60s);
        res.set_content("<manifest><filelist/></manifest>", "text/xml");
    });
    server.Start();
    Configure({server.Port()});
    const pid_t pid = Start();
    const Window window = AwaitWindow("KesuUpdate", true);
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(server.WaitUntilStalling());
    EXPECT_TRUE(ShowsTheSplash(window));
    CloseAndExpectACancelledRun(pid, window);
    EXPECT_EQ(server.Stalling(), 1) << "the run ended only with the manifest's answer";
}

// A big game's first check: 20,000 sparse files of 1 MiB, which cost no disk but take many
// seconds to read. The close comes while the check reads them, and the check stops.
TEST_F(X11StartCloseTest, ClosedDuringTheFirstCheckTheCheckStops)
{
    std::string entries;
    fs::create_directories(install.Path() / "data");
    for (int i = 0; i < 20000; ++i) {
        const std::string name = "data/file" + std::to_string(i) + ".dat";
        std::ofstream(install.Path() / name).close();
        fs::resize_file(install.Path() / name, 1 << 20);
        entries += "<file filename=\"" + name + "\" filesize=\"1048576\" fileversion=\"1\" md5=\"" + Md5Hex("fresh") + "\"/>";
    }
    Serve("<manifest><filelist>" + entries + "</filelist></manifest>");
    Configure({server.Port()});
    const pid_t pid = Start();
    const Window window = AwaitWindow("KesuUpdate", true);
    ASSERT_NE(window, 0u);
    // The check has begun once the updater holds one of the files open.
    ASSERT_TRUE(Await([&] { return HoldsOpen(pid, "data/file"); }, 20s));
    EXPECT_TRUE(ShowsTheSplash(window));
    CloseAndExpectACancelledRun(pid, window);
    const std::string log = ReadWholeFile(install.Path() / "tmp/KesuUpdate.log");
    EXPECT_NE(log.find("the check of the installed files was stopped"), std::string::npos) << log;
}

// Three mirrors that each refuse the manifest with 503 for a while: the close comes in a pause
// between tries, before the last mirror is asked.
TEST_F(X11StartCloseTest, ClosedWhileTheMirrorsFailInTurnNoFurtherServerIsAsked)
{
    std::vector<std::unique_ptr<TestServer>> mirrors;
    std::atomic<int> asked{0};
    std::vector<int> ports;
    for (int i = 0; i < 3; ++i) {
        auto& mirror = mirrors.emplace_back(std::make_unique<TestServer>());
        mirror->Http().Get("/update/update.xml", [&, i](const httplib::Request&, httplib::Response& res) {
            asked = std::max(asked.load(), i + 1);
            res.status = 503;
            res.set_header("Retry-After", "5");
        });
        mirror->Start();
        ports.push_back(mirror->Port());
    }
    Configure(ports);
    const pid_t pid = Start();
    const Window window = AwaitWindow("KesuUpdate", true);
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(Await([&] { return asked >= 1; }));
    EXPECT_TRUE(ShowsTheSplash(window));
    CloseAndExpectACancelledRun(pid, window);
    EXPECT_LT(asked, 3) << "every mirror was asked";
}

// The box saying the manifest cannot be used is up when the window is closed: the run ends as a
// cancel does, and the lobby it would have started after the box is not started.
TEST_F(X11StartCloseTest, ClosedUnderTheBoxOfAnUnusableSourceTheLobbyIsNotStarted)
{
    server.Http().Get("/update/update.xml", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("<html>not here</html>", "text/html");
    });
    server.Start();
    Configure({server.Port()});
    const pid_t pid = Start();
    const Window window = AwaitWindow("KesuUpdate", true);
    ASSERT_NE(window, 0u);
    ASSERT_TRUE(Await([&] {
        const Window box = FindByName(display, "提示");
        return box && IsShown(display, box);
    }, 20s));
    CloseWindow(display, window);
    EXPECT_EQ(WaitFor(pid, 20s), 0);
    EXPECT_FALSE(fs::exists(install.Path() / "lobby-started"));
    const std::string log = ReadWholeFile(install.Path() / "tmp/KesuUpdate.log");
    EXPECT_NE(log.find(" end: cancelled before the downloads began\n"), std::string::npos) << log;
}

}  // namespace
