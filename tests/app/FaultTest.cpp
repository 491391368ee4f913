// The updater under faults and load, without a display, against nginx on loopback.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

#include "download/MD5Checksum.h"
#include "tests/support/Nginx.h"
#include "tests/support/TempDir.h"

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
    void Prepare(int count)
    {
        if (NginxBinary().empty())
            GTEST_SKIP() << "nginx is not installed";
        files = count;
        std::string entries;
        for (int i = 0; i < count; ++i) {
            std::string name = "data/f" + std::to_string(i) + ".dat";
            std::string path = site.Write("update/" + name, Contents(i, true));
            old.Write(name, Contents(i, false));
            entries += "<file filename=\"data\\f" + std::to_string(i) + ".dat\" filesize=\"" +
                       std::to_string(Contents(i, true).size()) + "\" fileversion=\"2\" md5=\"" +
                       CMD5Checksum::HashFile(path) + "\"/>";
        }
        site.Write("update/update.xml", "<manifest><filelist>" + entries + "</filelist></manifest>");
        ::chmod(site.Path().c_str(), 0755);
        nginx = std::make_unique<Nginx>(site.Path().string(), "    keepalive_requests 100000;\n");
        fs::copy_file(KESU_EXE, old.Path() / "KesuUpdate.exe");
        old.Write("pirvex.dll", "[Download]\nsite1=127.0.0.1:" + std::to_string(nginx->Port()) + "\n[Setup]\nTempDir=tmp\n");
    }

    // A fresh installation of the old version.
    fs::path NewInstallation(const std::string& name)
    {
        fs::path dir = work.Path() / name;
        fs::copy(old.Path(), dir, fs::copy_options::recursive);
        return dir;
    }

    static pid_t Start(const fs::path& install)
    {
        std::string program = (install / "KesuUpdate.exe").string();
        char* argv[] = {program.data(), nullptr};
        std::vector<std::string> environment;
        for (char** e = environ; *e; ++e)
            if (!std::string(*e).starts_with("DISPLAY="))
                environment.push_back(*e);
        std::vector<char*> envp;
        for (auto& entry : environment)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, install.c_str());
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        return pid;
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
            if (text == Contents(i, true))
                ++updated;
            else
                EXPECT_EQ(text, Contents(i, false)) << install << " file " << i << " is neither version";
        }
        return updated;
    }

    int files = 0;
    TempDir site, old, work;
    std::unique_ptr<Nginx> nginx;
};

TEST_F(FaultTest, KilledDuringTheInstallationEveryFileIsOldOrNewAndTheNextRunCompletes)
{
    Prepare(200);
    std::mt19937 random(12345);
    int killedMidway = 0;
    for (int round = 0; round < 20; ++round) {
        fs::path install = NewInstallation("kill" + std::to_string(round));
        pid_t pid = Start(install);
        // The installation begins once every file has arrived in the temporary directory.
        auto deadline = std::chrono::steady_clock::now() + 10s;
        auto downloaded = [&] {
            int count = 0;
            std::error_code missing;
            for (const auto& entry : fs::directory_iterator(install / "tmp", missing))
                count += entry.path().extension() == ".dtm";
            return count;
        };
        // Waits for every file to have arrived, or for the first to have been moved away.
        for (int most = 0; std::chrono::steady_clock::now() < deadline;) {
            int count = downloaded();
            if (count == files || count < most)
                break;
            most = std::max(most, count);
            std::this_thread::sleep_for(200us);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
        ::kill(pid, SIGKILL);
        Wait(pid);
        int updated = UpdatedFiles(install);
        killedMidway += updated > 0 && updated < files;

        ASSERT_EQ(Wait(Start(install)), 0);
        EXPECT_EQ(UpdatedFiles(install), files) << "round " << round;
    }
    std::printf("killed in the middle of the installation %d times of 20\n", killedMidway);
}

TEST_F(FaultTest, TwoUpdatersOfOneInstallationNeverRunTogether)
{
    Prepare(2000);
    fs::path install = NewInstallation("twice");
    pid_t first = Start(install);
    std::this_thread::sleep_for(50ms);
    auto start = std::chrono::steady_clock::now();
    pid_t second = Start(install);
    EXPECT_EQ(Wait(second), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);  // it left at once
    EXPECT_EQ(Wait(first), 0);
    EXPECT_EQ(UpdatedFiles(install), files);
    EXPECT_EQ(nginx->RequestCount(), 1 + files);  // the second updater asked for nothing
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
