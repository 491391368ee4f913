// The updater under faults and load, without a display, against nginx on loopback.

#include <gtest/gtest.h>

#include <string_view>

#include <chrono>
#include <csignal>
#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

#include "digest/MD5Checksum.h"
#include "tests/support/Nginx.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"
#include "tests/support/UpdaterProcess.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string Contents(int i, bool updated)
{
    return std::string(20000 + i, static_cast<char>('a' + i % 26)) + (updated ? "new version" : "old version");
}

// A published update of `count` files and an installation of their old versions to copy.
class FaultTest : public ::testing::Test {
protected:
    void Prepare(int count, std::size_t padding = 0, const std::string& serverConfig = "    keepalive_requests 100000;\n")
    {
        if (NginxBinary().empty())
            GTEST_SKIP() << "nginx is not installed";
        files = count;
        pad = padding;
        std::string entries;
        for (int i = 0; i < count; ++i) {
            std::string name = "data/f" + std::to_string(i) + ".dat";
            std::string path = site.Write("update/" + name, New(i));
            old.Write(name, Contents(i, false));
            entries += "<file filename=\"data\\f" + std::to_string(i) + ".dat\" filesize=\"" +
                       std::to_string(New(i).size()) + "\" fileversion=\"2\" md5=\"" +
                       CMD5Checksum::HashFile(path) + "\"/>";
        }
        site.Write("update/update.xml", "<manifest><filelist>" + entries + "</filelist></manifest>");
        ::chmod(site.Path().c_str(), 0755);
        siteConfig = serverConfig;
        nginx = std::make_unique<Nginx>(site.Path().string(), siteConfig);
        fs::copy_file(KESU_EXE, old.Path() / "KesuUpdate.exe");
        old.Write("pirvex.dll", "[Download]\nsite1=127.0.0.1:" + std::to_string(nginx->Port()) + "\n[Setup]\nTempDir=tmp\n");
    }

    std::string New(int i) const { return Contents(i, true) + std::string(pad, 'p'); }

    // A fresh installation of the old version.
    fs::path NewInstallation(const std::string& name)
    {
        fs::path dir = work.Path() / name;
        fs::copy(old.Path(), dir, fs::copy_options::recursive);
        return dir;
    }

    // Starts the updater in the installation; what it writes to standard error goes to `errors`.
    static pid_t Start(const fs::path& install, const fs::path& errors = "/dev/null",
                       const std::vector<std::string>& environment = {})
    {
        return StartUpdater(install, {.environment = environment}, errors);
    }

    static int Wait(pid_t pid)
    {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // How many files hold their new version; fails the test on a file that is neither.
    int UpdatedFiles(const fs::path& install)
    {
        int updated = 0;
        for (int i = 0; i < files; ++i) {
            std::string text = ReadWholeFile(install / ("data/f" + std::to_string(i) + ".dat"));
            if (text == New(i))
                ++updated;
            else
                EXPECT_EQ(text, Contents(i, false)) << install << " file " << i << " is neither version";
        }
        return updated;
    }

    int files = 0;
    std::size_t pad = 0;
    std::string siteConfig;
    TempDir site, old, work;
    std::unique_ptr<Nginx> nginx;
};

// Sees files moved out of the temporary directory: nothing but the installation does that.
class MoveOutWatch {
public:
    explicit MoveOutWatch(const fs::path& directory) : m_fd(::inotify_init1(IN_CLOEXEC))
    {
        ::inotify_add_watch(m_fd, directory.c_str(), IN_MOVED_FROM);
    }
    ~MoveOutWatch() { ::close(m_fd); }

    // Waits until a download has been moved out (another file, such as a record written beside
    // it and renamed into place, does not count); false when none was within the limit.
    bool Wait(std::chrono::milliseconds limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        alignas(inotify_event) char events[4096];
        for (pollfd ready{m_fd, POLLIN, 0}; ::poll(&ready, 1, MillisecondsUntil(deadline)) == 1;) {
            const ssize_t length = ::read(m_fd, events, sizeof events);
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                if (event->len > 0 && std::string_view(event->name).ends_with(".dtm"))
                    return true;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return false;
    }

private:
    static int MillisecondsUntil(std::chrono::steady_clock::time_point deadline)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
    }

    int m_fd;
};

TEST_F(FaultTest, KilledDuringTheInstallationEveryFileIsOldOrNewAndTheNextRunCompletes)
{
    Prepare(200);
    constexpr int kRounds = 20;
    int stoppedMidway = 0;
    for (int round = 0; round < kRounds; ++round) {
        fs::path install = NewInstallation("kill" + std::to_string(round));
        fs::create_directories(install / "tmp");
        MoveOutWatch installing(install / "tmp");
        pid_t pid = Start(install);
        // Stopped as soon as the first file has been put in place, the updater is caught
        // in the middle of the installation.
        if (!installing.Wait(30s)) {
            ::kill(pid, SIGKILL);
            Wait(pid);
            FAIL() << "round " << round << ": the installation never began";
        }
        ::kill(pid, SIGSTOP);
        siginfo_t state{};
        // Stopped, or (on a machine busy enough) ended already; left to be reaped below.
        ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(pid), &state, WSTOPPED | WEXITED | WNOWAIT), 0);
        const int updated = UpdatedFiles(install);
        EXPECT_GT(updated, 0) << "round " << round;
        stoppedMidway += state.si_code == CLD_STOPPED && updated < files;

        ::kill(pid, SIGKILL);
        Wait(pid);
        EXPECT_EQ(UpdatedFiles(install), updated) << "round " << round;
        ASSERT_EQ(Wait(Start(install)), 0);
        EXPECT_EQ(UpdatedFiles(install), files) << "round " << round;
    }
    std::printf("stopped in the middle of the installation %d times of %d\n", stoppedMidway, kRounds);
    EXPECT_GT(stoppedMidway, 0);
}

TEST_F(FaultTest, AServerRestartedMidwayIsWaitedForAndTheRunCompletesFromTheByteReached)
{
    Prepare(3, 1 << 20, "    keepalive_requests 100000;\n    limit_rate 1m;\n");  // three files of 1 MB, slowly
    fs::path install = NewInstallation("restart");
    pid_t pid = Start(install);
    // Waits for the first bytes of the first file.
    auto downloading = [&] {
        std::error_code missing;
        for (const auto& entry : fs::directory_iterator(install / "tmp", missing)) {
            std::uintmax_t size = entry.path().extension() == ".dtm" ? fs::file_size(entry.path(), missing) : 0;
            if (!missing && size > 0)
                return true;
        }
        return false;
    };
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!downloading()) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the download never began";
        std::this_thread::sleep_for(1ms);
    }
    const int port = nginx->Port();
    nginx.reset();  // the server goes away in the middle of a file...
    nginx = std::make_unique<Nginx>(site.Path().string(), siteConfig, port);  // ...and comes back
    EXPECT_EQ(Wait(pid), 0);
    EXPECT_EQ(UpdatedFiles(install), files);
    // The restarted server sent the rest of the broken file, not all of it again.
    EXPECT_LT(nginx->BodyBytesSent(), static_cast<std::uint64_t>(files) * New(0).size());
}

// A server that refuses connections is down, not busy: the manifest, and in package mode the
// package's probe, are asked for once more each, a second later, and the player is told.
TEST_F(FaultTest, AServerThatRefusesConnectionsIsAskedOnceMoreBeforeThePlayerIsTold)
{
    Prepare(1);
    const ClosedPort closed;
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{}, {"Game7.dat", "1", "2", "-install"}}) {
        SCOPED_TRACE(arguments.empty() ? "manifest" : "package");
        fs::path install = NewInstallation(arguments.empty() ? "refused-manifest" : "refused-package");
        std::ofstream(install / "pirvex.dll") << "[Download]\nsite1=127.0.0.1:" << closed.Port() << "\n[Setup]\nTempDir=tmp\n";
        const UpdaterOutput run = RunUpdater(install, {.arguments = arguments});
        EXPECT_TRUE(run.output.ends_with("\n提示: Error line:493\n")) << run.output;
        const std::string log = ReadWholeFile(install / "tmp/KesuUpdate.log");
        const std::vector<std::string> requests = arguments.empty() ? std::vector<std::string>{"update.xml"}
                                                                    : std::vector<std::string>{"Game7.zip", "Game7.xml"};
        for (const std::string& request : requests) {
            const std::string retried = "GET " + closed.Url("/update/" + request) + ": Couldn't connect to server";
            const std::size_t at = log.find(retried);
            ASSERT_NE(at, std::string::npos) << log;
            EXPECT_TRUE(log.substr(at, log.find('\n', at) - at).ends_with("; try 2 in 1000 ms")) << log;
        }
        EXPECT_EQ(log.find("; try 3"), std::string::npos) << log;
        EXPECT_EQ(UpdatedFiles(install), 0);
    }
}

TEST_F(FaultTest, AServerThatNeverAnswersFailsTheRunAtTheStallLimit)
{
    Prepare(1);
    // Connections complete in the kernel's backlog, but nothing is ever read or written.
    int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(::listen(silent, 16), 0);
    ::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &size);
    fs::path install = NewInstallation("silent");
    std::ofstream(install / "pirvex.dll") << "[Download]\nsite1=127.0.0.1:" << ntohs(address.sin_port) << "\n";

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Wait(Start(install, work.Path() / "errors", {"KESU_TEST_STALL_SECONDS=1"})), 0);
    // A second against the thirty of a run without the setting: the stall limit ended the run.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 20s);
    const std::string errors = ReadWholeFile(work.Path() / "errors");
    EXPECT_TRUE(errors.ends_with("\n提示: Error line:493\n")) << errors;
    EXPECT_NE(errors.find("too slow"), std::string::npos) << errors;
    EXPECT_EQ(UpdatedFiles(install), 0);

    // The program did reach the server and ask: it was the silence that failed it, not a refusal.
    int asked = ::accept4(silent, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    ::close(silent);
    ASSERT_GE(asked, 0) << "the program never connected";
    char request[256] = {};
    ::recv(asked, request, sizeof request - 1, 0);
    ::close(asked);
    EXPECT_TRUE(std::string(request).starts_with("GET /update/update.xml ")) << request;
}

TEST_F(FaultTest, AnUpdateThatDoesNotFitFetchesNothingAndTheNextRunWithSpaceCompletes)
{
    Prepare(4, 300000);  // 1.2 MB to download into a 512 KB temporary directory
    fs::path install = NewInstallation("full");
    fs::create_directories(install / "tmp");
    std::string mount = "mount -t tmpfs -o size=512k tmpfs '" + (install / "tmp").string() + "' 2>/dev/null";
    if (std::system(mount.c_str()) != 0)
        GTEST_SKIP() << "no small file system can be mounted here";
    EXPECT_EQ(Wait(Start(install, work.Path() / "errors")), 0);
    EXPECT_NE(ReadWholeFile(work.Path() / "errors").find("磁盘空间不足：更新需要 1.2 MB，"), std::string::npos)
        << ReadWholeFile(work.Path() / "errors");
    EXPECT_EQ(UpdatedFiles(install), 0);
    EXPECT_EQ(nginx->RequestCount(), 1);  // the manifest alone
    EXPECT_EQ(std::system(("umount '" + (install / "tmp").string() + "'").c_str()), 0);
    EXPECT_EQ(Wait(Start(install)), 0);
    EXPECT_EQ(UpdatedFiles(install), files);
}

TEST_F(FaultTest, TwoUpdatersOfOneInstallationNeverRunTogether)
{
    Prepare(2000);
    fs::path install = NewInstallation("twice");
    pid_t first = Start(install);
    std::this_thread::sleep_for(50ms);
    pid_t second = Start(install);
    EXPECT_EQ(Wait(second), 0);
    EXPECT_EQ(Wait(first), 0);
    EXPECT_EQ(UpdatedFiles(install), files);
    // The second waited for the first to leave, and then found nothing left to fetch (or, on a
    // machine so slow that the first took longer than the wait, left the installation to it).
    EXPECT_GE(nginx->RequestCount(), 1 + files);
    EXPECT_LE(nginx->RequestCount(), 1 + files + 1);
}

// A lobby that starts the next update the moment the last one handed it back meets an updater
// still ending: the new one waits for it rather than leaving without a word.
TEST_F(FaultTest, AnUpdaterStartedWhileTheLastStillHoldsTheInstallationWaitsForItThenRuns)
{
    Prepare(3);
    fs::path install = NewInstallation("next");
    const int held = ::open(install.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const fs::path errors = work.Path() / "errors";
    pid_t next = Start(install, errors);
    // Until it says it waits, or ends (without being reaped, so that its exit code stays to be had).
    siginfo_t ended{};
    while (ReadWholeFile(errors).find("waiting up to 30 s") == std::string::npos &&
           ::waitid(P_PID, static_cast<id_t>(next), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 && ended.si_pid == 0)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(nginx->RequestCount(), 0);
    ::close(held);
    EXPECT_EQ(Wait(next), 0);
    EXPECT_EQ(UpdatedFiles(install), files) << ReadWholeFile(errors);
    EXPECT_NE(ReadWholeFile(install / "tmp/KesuUpdate.log").find("for the updater before this one to leave"),
              std::string::npos);
}

// A game the player may not write: on a read-only file system, or in another user's directory.
// When the manifest lists files to fetch, the player reads which directory cannot be written (as
// the system names it) before anything is downloaded; an installation that is up to date is
// handed back to the lobby as any other, and only the log (where it can be kept) notes it.
TEST_F(FaultTest, AGameThePlayerMayNotWriteIsRefusedBeforeItsDownloadsButHandedBackWhenUpToDate)
{
    Prepare(2);
    const std::string lobby = "#!/bin/sh\necho \"lobby started: $*\" >&2\n";
    // How the installation is made one the run may not write: a read-only mount of it, or a run
    // as the user nobody in root's directory.
    struct Way {
        const char* name;
        bool asNobody;
    };
    for (const Way way : {Way{"readonly", false}, Way{"nobody", true}}) {
        for (const bool upToDate : {false, true}) {
            for (const std::string tempDir : {"tmp", ""}) {
                SCOPED_TRACE(std::string(way.name) + (upToDate ? ", up to date" : ", outdated") + ", TempDir=" + tempDir);
                fs::path install = NewInstallation(std::string(way.name) + (upToDate ? "-current" : "-old") + tempDir);
                std::ofstream(install / "pirvex.dll")
                    << "[Download]\nsite1=127.0.0.1:" << nginx->Port() << "\n[Setup]\nTempDir=" << tempDir << "\n";
                std::ofstream(install / "Maravel.exe") << lobby;
                ::chmod((install / "Maravel.exe").c_str(), 0755);
                if (upToDate) {
                    ASSERT_EQ(Wait(Start(install)), 0);
                }
                const int requestsBefore = nginx->RequestCount();
                const std::string dir = install.string();
                if (!way.asNobody &&
                    std::system(("mount --bind '" + dir + "' '" + dir + "' && mount -o remount,ro,bind '" + dir + "' '" + dir + "'").c_str()) != 0)
                    GTEST_SKIP() << "no read-only mount can be made here";
                // Read to the end of its output, so that the lobby it starts has written its line.
                const UpdaterOutput run = RunUpdater(install, {.asNobody = way.asNobody});
                if (!way.asNobody) {
                    EXPECT_EQ(std::system(("umount '" + dir + "'").c_str()), 0);
                }
                EXPECT_EQ(run.status, 0);
                const std::string& told = run.output;
                const bool refused = told.find("目录 " + install.string() + "/ 无法写入，已停止更新。") != std::string::npos;
                EXPECT_EQ(refused, !upToDate) << told;
                EXPECT_EQ(told.find("lobby started: -KesuUpdate_old.exe") != std::string::npos, upToDate) << told;
                if (!upToDate) {
                    EXPECT_NE(told.find(way.asNobody ? "Permission denied" : "Read-only file system"), std::string::npos) << told;
                }
                EXPECT_EQ(told.find('\\'), std::string::npos) << told;
                EXPECT_EQ(UpdatedFiles(install), upToDate ? files : 0);
                // The manifest alone was asked for.
                EXPECT_EQ(nginx->RequestCount(), requestsBefore + 1);
                EXPECT_EQ(nginx->RequestedPaths().back(), "/update/update.xml");
            }
        }
    }
}

TEST_F(FaultTest, FiftyUpdatersAtOnceAllComplete)
{
    Prepare(40);
    std::vector<fs::path> installs;
    for (int i = 0; i < 50; ++i)
        installs.push_back(NewInstallation("load" + std::to_string(i)));
    auto start = std::chrono::steady_clock::now();
    std::vector<pid_t> running;
    for (const auto& install : installs)
        running.push_back(Start(install));
    for (pid_t pid : running)
        EXPECT_EQ(Wait(pid), 0);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const auto& install : installs)
        EXPECT_EQ(UpdatedFiles(install), files) << install;
    std::printf("50 concurrent updates of %d files each: %.2f s, %d requests to nginx\n", files, seconds,
                nginx->RequestCount());
    EXPECT_EQ(nginx->RequestCount(), 50 * (1 + files));
}

}  // namespace
