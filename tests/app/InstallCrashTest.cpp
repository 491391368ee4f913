// The program killed in the middle of an installation, at chosen moves (KESU_TEST_KILL_AFTER_MOVES)
// and at moments the kernel's timing picks: after each kill every file is wholly old or wholly
// new and at every instant there is a KesuUpdate.exe; the next start finishes the installation
// from its journal and downloads nothing again. And an installation step that fails: the player
// is told, the lobby is not started, and the next run installs.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <map>
#include <poll.h>
#include <random>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/Path.h"
#include "tests/app/UpdaterHarness.h"
#include "tests/support/TestServer.h"
#include "tests/support/UpdaterProcess.h"
#include "tests/support/ZipBuilder.h"

namespace {

using namespace std::chrono_literals;

// Small files: the test is about the moves, and 3,000 of them are many moves.
constexpr int kFiles = 3000;

std::string FileName(int i)
{
    return "data/f" + std::to_string(i) + ".dat";
}

std::string Version(int i, bool updated)
{
    return (updated ? "new version of " : "old version of ") + std::to_string(i) + "\n";
}

// How a started program ended.
struct Ending {
    bool killed = false;  // by SIGKILL
    int status = -1;      // the exit code, when it exited
};

Ending WaitFor(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return {WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// Sees the installation's moves out of the temporary directory, and its journal come and go.
class TempDirWatch {
public:
    explicit TempDirWatch(const fs::path& directory) : m_fd(::inotify_init1(IN_CLOEXEC))
    {
        ::inotify_add_watch(m_fd, directory.c_str(), IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE);
    }
    ~TempDirWatch() { ::close(m_fd); }

    // Waits (after the journal was written, when `journalFirst`) until `moves` downloads have
    // been moved out, or the journal is gone because the installation ended; false when neither
    // came within a minute.
    bool WaitForMoves(int moves, bool journalFirst)
    {
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        bool journal = !journalFirst;
        alignas(inotify_event) char events[64 * 1024];
        while (moves > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd ready{m_fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) != 1)
                return false;
            const ssize_t length = ::read(m_fd, events, sizeof events);
            for (ssize_t at = 0; at < length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                const std::string_view name = event->len > 0 ? event->name : "";
                if (name == "install.journal" && (event->mask & IN_DELETE))
                    return true;
                journal = journal || ((event->mask & IN_MOVED_TO) && name == "install.journal");
                moves -= journal && (event->mask & IN_MOVED_FROM) && name.ends_with(".dtm");
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return true;
    }

private:
    int m_fd;
};

class InstallCrashTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server.Http().set_keep_alive_max_count(100000);
        server.Http().Get("/update/update.xml", [this](const httplib::Request&, httplib::Response& response) {
            ++manifestRequests;
            response.set_content(manifest, "text/xml");
        });
        server.Http().Get(R"(/update/(.+))", [this](const httplib::Request& request, httplib::Response& response) {
            ++fileRequests;
            const auto file = published.find(request.matches[1].str());
            if (file == published.end())
                response.status = 404;
            else
                response.set_content(file->second, "application/octet-stream");
        });
        server.Start();
        install.Configure(server.Port());
    }

    void Publish(const std::string& name, const std::string& contents)
    {
        published[name] = contents;
        std::string listed = name;
        std::replace(listed.begin(), listed.end(), '/', '\\');
        entries += ManifestEntry(listed, contents);
        manifest = Manifest(entries);
    }

    // The old version installed, the new one published.
    void PrepareManyFiles()
    {
        for (int i = 0; i < kFiles; ++i)
            Publish(FileName(i), Version(i, true));
        InstallOldVersion();
    }

    void InstallOldVersion() const
    {
        for (int i = 0; i < kFiles; ++i)
            install.Write(FileName(i), Version(i, false));
    }

    // How many files are new; they are the first ones, in the manifest's order, when `inOrder`.
    // Fails the test on a file that is neither version.
    int NewFiles(bool inOrder = false) const
    {
        int updated = 0;
        for (int i = 0; i < kFiles; ++i) {
            const std::string text = install.Read(FileName(i));
            if (text == Version(i, true)) {
                EXPECT_TRUE(!inOrder || updated == i) << FileName(i) << " is new after an old one";
                ++updated;
            } else if (text != Version(i, false)) {
                ADD_FAILURE() << FileName(i) << " is neither version: \"" << text << "\"";
            }
        }
        return updated;
    }

    bool JournalLeft() const { return install.Has("tmp/install.journal"); }

    pid_t Start(const std::vector<std::string>& environment = {}) const
    {
        return StartUpdater(install.Path(), {.environment = environment}, install.Path() / "errors");
    }

    // Starts the program to be killed after its `moves`th move, and waits for it to die.
    Ending RunKilledAfter(int moves) const
    {
        return WaitFor(Start({"KESU_TEST_KILL_AFTER_MOVES=" + std::to_string(moves)}));
    }

    // A run to its end, which must find the installation finished and download nothing.
    void ExpectTheNextStartFinishesWithoutDownloading()
    {
        const int files = fileRequests;
        const int manifests = manifestRequests;
        const UpdaterRun run = install.Run();
        ASSERT_TRUE(run.ended);
        EXPECT_TRUE(run.LobbyStarted()) << run.errors;
        EXPECT_EQ(fileRequests, files) << "a finished installation downloaded again";
        EXPECT_EQ(manifestRequests, manifests + 1);
        EXPECT_FALSE(JournalLeft());
        EXPECT_FALSE(install.Has("tmp/.KesuUpdate.staging"));
        EXPECT_NE(install.Read("tmp/KesuUpdate.log").find("the stopped installation is finished"), std::string::npos);
    }

    TestServer server;
    Installation install;
    std::map<std::string, std::string> published;
    std::string entries;
    std::string manifest = Manifest("");
    std::atomic<int> manifestRequests{0};
    std::atomic<int> fileRequests{0};
};

// The hooks are the tests' build's alone: the program players run takes none from its
// environment, so no environment can stop a player's update midway.
TEST_F(InstallCrashTest, TheProgramPlayersRunTakesNoTestHookFromItsEnvironment)
{
    PrepareManyFiles();
    std::filesystem::copy_file(KESU_SHIPPED_EXE, install.Path() / "KesuUpdate.exe",
                               std::filesystem::copy_options::overwrite_existing);
    const Ending ending = RunKilledAfter(1);
    EXPECT_FALSE(ending.killed);
    EXPECT_EQ(ending.status, 0);
    EXPECT_EQ(NewFiles(), kFiles);
    EXPECT_FALSE(JournalLeft());
}

TEST_F(InstallCrashTest, KilledAtChosenMovesEveryFileIsOldOrNewAndTheNextStartsFinishWithoutDownloading)
{
    PrepareManyFiles();
    std::mt19937 random(20250411);  // fixed: each run of the test kills at the same moves
    std::uniform_int_distribution<int> step(1, 100);
    int done = 0;
    int kills = 0;
    // The first start downloads and is killed in its installation; each next start finishes
    // some more of it from the journal and is killed too, before it asks the server anything.
    for (int moves = 1; done + moves < kFiles; moves = step(random)) {
        const int manifests = manifestRequests;
        ASSERT_TRUE(RunKilledAfter(moves).killed) << "kill " << kills << " after " << moves << " moves";
        done += moves;
        ++kills;
        ASSERT_EQ(NewFiles(true), done) << "kill " << kills;
        ASSERT_TRUE(JournalLeft());
        EXPECT_EQ(fileRequests, kFiles);
        EXPECT_EQ(manifestRequests, kills == 1 ? 1 : manifests);
    }
    std::printf("killed %d times at chosen moves of %d\n", kills, kFiles);
    EXPECT_GE(kills, 50);
    ExpectTheNextStartFinishesWithoutDownloading();
    EXPECT_EQ(NewFiles(), kFiles);
}

TEST_F(InstallCrashTest, KilledAtMomentsTheTimingPicksEveryFileIsOldOrNewAndTheNextStartFinishes)
{
    PrepareManyFiles();
    fs::create_directories(install.Path() / "tmp");  // to be watched from the first start
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<int> movesSeen(1, 30);
    int hits = 0;
    int attempts = 0;
    int installations = 0;
    // A start is killed in its own installation, the next ones while they finish it. A hit is a
    // kill that left the journal after that start had moved some files; one that came too late
    // lets the installation end, and the old version is installed again for the next round.
    for (; hits < 20 && attempts < 60; ++attempts) {
        const bool installing = !JournalLeft();
        if (installing && installations++ > 0) {
            ASSERT_EQ(NewFiles(), kFiles);
            InstallOldVersion();
        }
        const int before = installing ? 0 : NewFiles();
        TempDirWatch watch(install.Path() / "tmp");
        const pid_t pid = Start();
        const bool seen = watch.WaitForMoves(movesSeen(random), installing);
        ::kill(pid, SIGKILL);
        const Ending ending = WaitFor(pid);
        ASSERT_TRUE(seen) << "attempt " << attempts << ": the moves never came";
        const int now = NewFiles();
        hits += ending.killed && JournalLeft() && now > before && now < kFiles;
        EXPECT_GE(now, before);
    }
    std::printf("%d of %d random kills landed in the middle of %d installations\n", hits, attempts, installations);
    EXPECT_GE(hits, 10);
    EXPECT_EQ(fileRequests, kFiles * installations);
    if (JournalLeft())
        ExpectTheNextStartFinishesWithoutDownloading();
    EXPECT_EQ(NewFiles(), kFiles);
}

TEST_F(InstallCrashTest, ASelfUpdateKilledAtAnyMoveAlwaysLeavesTheProgramAndEndsWithItsOldCopySetAside)
{
    const std::string old = install.Read("KesuUpdate.exe");
    const std::string next = old + "new build";  // still a runnable program
    Publish("a.txt", "new a");
    Publish("KesuUpdate.exe", next);
    Publish("b.txt", "new b");
    // After the second move the new copy is in place; after the third every move is done, but
    // the old copy is not yet set aside.
    for (int moves = 1; moves <= 3; ++moves) {
        Installation fresh;
        fresh.Configure(server.Port());
        fresh.Write("a.txt", "old a");
        ::chmod((fresh.Path() / "KesuUpdate.exe").c_str(), 0750);
        ASSERT_TRUE(WaitFor(StartUpdater(fresh.Path(), {.environment = {"KESU_TEST_KILL_AFTER_MOVES=" + std::to_string(moves)}},
                                         fresh.Path() / "errors"))
                        .killed);
        EXPECT_EQ(fresh.Read("KesuUpdate.exe"), moves >= 2 ? next : old) << moves;
        EXPECT_FALSE(fresh.Has("KesuUpdate_old.exe")) << moves;

        const int files = fileRequests;
        const UpdaterRun run = fresh.Run();
        ASSERT_TRUE(run.ended);
        EXPECT_TRUE(run.LobbyStarted()) << run.errors;
        EXPECT_EQ(fileRequests, files) << moves;
        EXPECT_EQ(fresh.Read("KesuUpdate.exe"), next);
        EXPECT_EQ(fresh.Read("KesuUpdate_old.exe"), old);
        EXPECT_EQ(fresh.Read("a.txt"), "new a");
        EXPECT_EQ(fresh.Read("b.txt"), "new b");
        struct stat st {};
        ASSERT_EQ(::stat((fresh.Path() / "KesuUpdate.exe").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0750u);
    }
}

TEST_F(InstallCrashTest, APackageInstallationKilledMidwayIsFinishedByTheNextStart)
{
    for (const char* name : {"a.txt", "c.txt"})
        install.Write(name, std::string("old ") + name);
    TempDir packed;
    WriteZip(packed.Dir() + "Game7.zip", {{"a.txt", "new a.txt"}, {"maps/b.txt", "new b.txt"}, {"c.txt", "new c.txt"}});
    install.Write("maps/b.txt", "old b.txt");
    published["Game7.zip"] = ReadWholeFile(packed.Path() / "Game7.zip");
    const std::vector<std::string> package{"Game7.dat", "1", "2", "-install"};

    // The first start unpacks into staging and is killed after one move, the next one while it
    // finishes the journal, after one more.
    for (int kill = 1; kill <= 2; ++kill) {
        const pid_t pid = StartUpdater(install.Path(), {.arguments = package, .environment = {"KESU_TEST_KILL_AFTER_MOVES=1"}},
                                       install.Path() / "errors");
        ASSERT_TRUE(WaitFor(pid).killed) << kill;
        EXPECT_EQ(install.Read("a.txt"), "new a.txt");
        EXPECT_EQ(install.Read("maps/b.txt"), kill == 2 ? "new b.txt" : "old b.txt");
        EXPECT_EQ(install.Read("c.txt"), "old c.txt");
        EXPECT_TRUE(JournalLeft());
    }
    const UpdaterRun run = install.Run(package);
    ASSERT_TRUE(run.ended);
    for (const char* name : {"a.txt", "maps/b.txt", "c.txt"})
        EXPECT_EQ(install.Read(name), std::string("new ") + PathFindFileName(name)) << run.errors;
    EXPECT_FALSE(JournalLeft());
    EXPECT_FALSE(install.Has("tmp/.KesuUpdate.staging"));
    EXPECT_FALSE(install.Has("tmp/Game7.zip"));
}

TEST_F(InstallCrashTest, AFailedStepTellsThePlayerStartsNoLobbyAndTheNextRunInstalls)
{
    install.Write("a.txt", "old a");
    install.Write("b.txt/inside", "a directory where the file goes");
    Publish("a.txt", "new a");
    Publish("b.txt", "new b");
    Publish("c.txt", "new c");

    UpdaterRun run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.Told("b.txt 无法安装（那里已有同名的文件夹），已停止更新。")) << run.errors;
    EXPECT_TRUE(run.Told(kFailedRunText)) << run.errors;
    EXPECT_FALSE(run.LobbyStarted()) << run.errors;
    EXPECT_EQ(install.Read("a.txt"), "old a");
    EXPECT_FALSE(install.Has("c.txt"));
    EXPECT_FALSE(JournalLeft());
    const std::string log = install.Read("tmp/KesuUpdate.log");
    EXPECT_NE(log.find("b.txt could not be put in place: Is a directory"), std::string::npos) << log;
    EXPECT_NE(log.find("end: failed: b.txt 无法安装"), std::string::npos) << log;

    fs::remove_all(install.Path() / "b.txt");
    run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.LobbyStarted()) << run.errors;
    EXPECT_EQ(install.Read("a.txt"), "new a");
    EXPECT_EQ(install.Read("b.txt"), "new b");
    EXPECT_EQ(install.Read("c.txt"), "new c");
}

}  // namespace
