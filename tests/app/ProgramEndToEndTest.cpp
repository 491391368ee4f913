// KesuUpdate.exe itself, run from an installation directory against nginx.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>

#include "digest/MD5Checksum.h"
#include "tests/support/Nginx.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"
#include "tests/support/UpdaterProcess.h"
#include "tests/support/Xvfb.h"
#include "tests/support/ZipBuilder.h"

namespace fs = std::filesystem;

namespace {

// Each scenario runs without a display; those that end without a message box run once more
// with the window on an X server of their own.
class ProgramTest : public ::testing::TestWithParam<bool> {
protected:
    bool WithDisplay() const { return GetParam(); }
    void SetUp() override
    {
        if (NginxBinary().empty())
            GTEST_SKIP() << "nginx is not installed";
        if (WithDisplay()) {
            if (!XvfbInstalled())
                GTEST_SKIP() << "Xvfb is not installed";
            x = std::make_unique<Xvfb>();
        }
        ::chmod(server.Path().c_str(), 0755);
        fs::create_directories(server.Path() / "update");
        fs::copy_file(KESU_EXE, install.Path() / "KesuUpdate.exe");
        nginx = std::make_unique<Nginx>(server.Path().string());
        install.Write("pirvex.dll", "[Download]\nsite1=127.0.0.1:" + std::to_string(nginx->Port()) +
                                        "\n[Setup]\nTempDir=tmp\n");
    }

    // Publishes a file under update/ and lists it in the manifest.
    void Publish(const std::string& name, const std::string& contents)
    {
        std::string path = name;
        std::replace(path.begin(), path.end(), '\\', '/');
        std::string file = server.Write("update/" + path, contents);
        entries += "<file filename=\"" + name + "\" filesize=\"" + std::to_string(contents.size()) +
                   "\" fileversion=\"1\" md5=\"" + CMD5Checksum::HashFile(file) + "\"/>";
        server.Write("update/update.xml", "<manifest><filelist>" + entries + "</filelist></manifest>");
    }

    // A stand-in lobby that records how it was started.
    void InstallLobby()
    {
        install.Write("Maravel.exe", "#!/bin/sh\necho \"$@\" > \"$(dirname \"$0\")/lobby-arguments\"\n");
        ::chmod((install.Path() / "Maravel.exe").c_str(), 0755);
    }
    // What the lobby was started with, waiting a little for it; empty when it was not started.
    std::string LobbyArguments()
    {
        for (int i = 0; i < 50 && !fs::exists(install.Path() / "lobby-arguments"); ++i)
            ::usleep(20000);
        return fs::exists(install.Path() / "lobby-arguments") ? ReadWholeFile(install.Path() / "lobby-arguments") : "";
    }

    // Runs the program in the installation directory; returns its exit code, output in `output`.
    int Run(const std::vector<std::string>& arguments = {})
    {
        UpdaterOutput run = RunUpdater(install.Path(), {.arguments = arguments, .display = WithDisplay()});
        output = std::move(run.output);
        return run.status;
    }

    std::unique_ptr<Xvfb> x;
    TempDir server;
    TempDir install;
    std::unique_ptr<Nginx> nginx;
    std::string entries;
    std::string output;
};

// Message boxes and the progress line go to standard error only without a display.
class ConsoleProgramTest : public ProgramTest {};

TEST_P(ProgramTest, ManifestUpdateInstallsChangedFilesAndLeavesNoTemporaries)
{
    InstallLobby();
    install.Write("readme.txt", "old");
    install.Write("same.txt", "same");
    Publish("readme.txt", "new readme");
    Publish("same.txt", "same");
    Publish("data\\map\\town.dat", std::string(100000, 't'));
    Publish("Reg.Local", "never fetched");

    EXPECT_EQ(Run(), 0) << output;
    EXPECT_EQ(ReadWholeFile(install.Path() / "readme.txt"), "new readme");
    EXPECT_EQ(ReadWholeFile(install.Path() / "data/map/town.dat"), std::string(100000, 't'));
    EXPECT_FALSE(fs::exists(install.Path() / "Reg.Local"));
    std::set<std::string> left;  // no download, no lock file: only the record of the check, and the log
    for (const auto& entry : fs::directory_iterator(install.Path() / "tmp"))
        left.insert(entry.path().filename().string());
    EXPECT_EQ(left, (std::set<std::string>{"KesuUpdate.log", "check.cache"}));
    const std::string log = ReadWholeFile(install.Path() / "tmp/KesuUpdate.log");
    for (const char* line : {" start: KesuUpdate (build ", "/update/update.xml: 200, ", "/update/readme.txt?md5=",
                             ": 200, 10 bytes in ", "installed data\\map\\town.dat\n", " end: the update is installed\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    EXPECT_EQ(nginx->RequestCount(), 3);  // the manifest and the two changed files
    EXPECT_EQ(LobbyArguments(), "-KesuUpdate_old.exe\n");

    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(nginx->RequestCount(), 4);  // only the manifest: everything is up to date
}

TEST_P(ProgramTest, WithTheInstallationAsTemporaryDirectoryARunLeavesNothingOfItsOwn)
{
    install.Write("pirvex.dll", "[Download]\nsite1=127.0.0.1:" + std::to_string(nginx->Port()) + "\n");
    Publish("readme.txt", "new readme");
    EXPECT_EQ(Run(), 0) << output;
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(install.Path()))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"KesuUpdate.exe", "pirvex.dll", "readme.txt"}));
}

TEST_P(ProgramTest, PackageUpdateUnpacksAndDeletesThePackage)
{
    ZipItem tool{"bin/tool.sh", "#!/bin/sh\necho tool\n"};
    tool.external = 0100755u << 16;
    WriteZip((server.Path() / "update/Game7.zip").string(), {{"maps/harbour.map", "harbour"}, tool});

    EXPECT_EQ(Run({"Game7.dat", "12", "34", "-install"}), 0) << output;
    EXPECT_EQ(ReadWholeFile(install.Path() / "maps/harbour.map"), "harbour");
    // The probe, the package's end (what it unpacks to, for the disk-space check) and the
    // download: no manifest.
    EXPECT_EQ(nginx->RequestCount(), 3);
    struct stat st {};
    ASSERT_EQ(::stat((install.Path() / "bin/tool.sh").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    EXPECT_FALSE(fs::exists(install.Path() / "tmp/Game7.zip"));
}

TEST_P(ProgramTest, PackageModeFallsBackToTheManifestWhenThePackageIsMissing)
{
    Publish("readme.txt", "from the manifest");
    // "Game7.dat" names Game7.xml: published under that name too.
    fs::copy_file(server.Path() / "update/update.xml", server.Path() / "update/Game7.xml");
    EXPECT_EQ(Run({"Game7.dat", "1", "2", "-install"}), 0) << output;
    EXPECT_EQ(ReadWholeFile(install.Path() / "readme.txt"), "from the manifest");
}

TEST_P(ProgramTest, SelfUpdateSetsTheRunningProgramAsideAndInstallsAnExecutableCopy)
{
    const std::string old = ReadWholeFile(install.Path() / "KesuUpdate.exe");
    const std::string next = old + "new build";  // still a runnable program
    Publish("KesuUpdate.exe", next);

    EXPECT_EQ(Run(), 0) << output;
    EXPECT_EQ(ReadWholeFile(install.Path() / "KesuUpdate_old.exe"), old);
    EXPECT_EQ(ReadWholeFile(install.Path() / "KesuUpdate.exe"), next);
    struct stat st {};
    ASSERT_EQ(::stat((install.Path() / "KesuUpdate.exe").c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);

    // The new copy runs, finds itself up to date and leaves the set-aside copy alone.
    EXPECT_EQ(Run(), 0) << output;
    EXPECT_EQ(ReadWholeFile(install.Path() / "KesuUpdate_old.exe"), old);
}

TEST_P(ProgramTest, TheDefaultUpdateStartsTheLobbyAgainANamedOneDoesNot)
{
    install.Write("Maravel.exe", "#!/bin/sh\necho \"$@\" > \"$(dirname \"$0\")/lobby-arguments\"\n");
    ::chmod((install.Path() / "Maravel.exe").c_str(), 0755);
    Publish("readme.txt", "new readme");
    fs::copy_file(server.Path() / "update/update.xml", server.Path() / "update/Game7.xml");

    EXPECT_EQ(Run({"Game7.dat", "12", "34"}), 0) << output;
    EXPECT_EQ(ReadWholeFile(install.Path() / "readme.txt"), "new readme");
    EXPECT_FALSE(fs::exists(install.Path() / "lobby-arguments"));  // a lobby that asked is notified instead

    EXPECT_EQ(Run(), 0) << output;  // nothing left to do: the run ends the same way
    for (int i = 0; i < 100 && !fs::exists(install.Path() / "lobby-arguments"); ++i)
        ::usleep(20000);
    EXPECT_EQ(ReadWholeFile(install.Path() / "lobby-arguments"), "-KesuUpdate_old.exe\n");
}

TEST_P(ProgramTest, TheRestartedLobbyHoldsNoDescriptorOfTheUpdater)
{
    // The stand-in lists its shell's descriptors as "<number> <target>"; the shell itself keeps
    // one open on the script it reads. find writes the list itself: a shell redirection would
    // set the shell's own standard output aside on another descriptor meanwhile.
    install.Write("Maravel.exe", "#!/bin/sh\ncd \"$(dirname \"$0\")\"\n"
                                 "find /proc/$$/fd -mindepth 1 -fprintf descriptors.part '%f %l\\n'\n"
                                 "mv descriptors.part lobby-descriptors\n");
    ::chmod((install.Path() / "Maravel.exe").c_str(), 0755);
    Publish("readme.txt", "new readme");  // a download: the updater has a connection to the server

    EXPECT_EQ(Run(), 0) << output;
    const fs::path listing = install.Path() / "lobby-descriptors";
    for (int i = 0; i < 100 && !fs::exists(listing); ++i)
        ::usleep(20000);
    const std::string script = fs::canonical(install.Path() / "Maravel.exe").string();
    std::set<int> standard;
    std::string handedOver;
    std::istringstream lines(ReadWholeFile(listing));
    for (std::string line; std::getline(lines, line);) {
        const int fd = std::stoi(line);
        if (fd <= 2)
            standard.insert(fd);
        else if (line.substr(line.find(' ') + 1) != script)
            handedOver += line + "\n";
    }
    EXPECT_EQ(handedOver, "");
    EXPECT_TRUE(standard.contains(1) && standard.contains(2)) << ReadWholeFile(listing);
}

TEST_P(ConsoleProgramTest, WithoutADisplayEachFileTellsItsProgressOnceAndANeedlessRunSaysSo)
{
    // The progress lines of the output, in order.
    auto progress = [this] {
        std::vector<std::string> lines;
        std::istringstream stream(output);
        for (std::string line; std::getline(stream, line);)
            if (line.find("  (update: ") != std::string::npos)
                lines.push_back(line);
        return lines;
    };
    const std::string upToDate = "The installation is up to date.\n";
    Publish("small.txt", "ten bytes!");
    Publish("big.dat", std::string(3 * 1024 * 1024, 'b'));
    // One file after the other.
    const std::string settings = ReadWholeFile(install.Path() / "pirvex.dll");
    const std::size_t site = settings.find("site1=");
    ASSERT_NE(site, std::string::npos);
    install.Write("pirvex.dll", std::string(settings).insert(site, "Connections=1\n"));
    EXPECT_EQ(Run(), 0);
    std::vector<std::string> lines = progress();
    ASSERT_GE(lines.size(), 2u) << output;
    EXPECT_EQ(lines.front(), "small.txt  10 B of 10 B  (update: 0%)") << output;
    EXPECT_EQ(lines.back(), "big.dat  3.0 MB of 3.0 MB  (update: 100%)") << output;
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()).size(), lines.size()) << output;
    EXPECT_EQ(output.find(upToDate), std::string::npos) << output;

    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(progress().empty()) << output;
    EXPECT_TRUE(output.starts_with(upToDate)) << output;

    // Both at once: each file's last line is there, once, and the update's end.
    install.Write("pirvex.dll", settings);
    fs::remove(install.Path() / "small.txt");
    fs::remove(install.Path() / "big.dat");
    EXPECT_EQ(Run(), 0);
    lines = progress();
    const auto count = [&](const std::string& start) {
        return std::count_if(lines.begin(), lines.end(), [&](const std::string& line) { return line.starts_with(start); });
    };
    EXPECT_EQ(count("small.txt  10 B of 10 B  (update: "), 1) << output;
    EXPECT_EQ(count("big.dat  3.0 MB of 3.0 MB  (update: "), 1) << output;
    EXPECT_EQ(count("") - count("small.txt"), count("big.dat")) << output;
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()).size(), lines.size()) << output;
    EXPECT_NE(output.find("  (update: 100%)"), std::string::npos) << output;
}

TEST_P(ConsoleProgramTest, FailedDownloadNamesTheConfiguredWebPageOrTheConfiguredMessage)
{
    Publish("gone.dat", "x");
    fs::remove(server.Path() / "update/gone.dat");
    std::string settings = ReadWholeFile(install.Path() / "pirvex.dll");
    install.Write("pirvex.dll", settings + "[DownUrl]\nWebUrl=http://lobby.example/full\n");
    EXPECT_EQ(Run(), 0);
    EXPECT_NE(output.find("提示: 更新失败，请到http://lobby.example/full下载最新版本\n"), std::string::npos) << output;

    install.Write("pirvex.dll", settings + "[messages]\nErrorMsg=请重新安装 %s\n");
    EXPECT_EQ(Run(), 0);
    EXPECT_NE(output.find("提示: 请重新安装 %s\n"), std::string::npos) << output;

    // The lobby under a Chinese Windows writes the file in its code page, GBK.
    const ToolRun gbk = RunTool(install.Path(), "iconv", {"-f", "UTF-8", "-t", "GBK"},
                                settings + "[messages]\nErrorMsg=更新失败，请到官网下载完整版\n");
    ASSERT_EQ(gbk.status, 0) << gbk.output;
    install.Write("pirvex.dll", gbk.output);
    EXPECT_EQ(Run(), 0);
    EXPECT_NE(output.find("提示: 更新失败，请到官网下载完整版\n"), std::string::npos) << output;
}

// A studio starts from the README's example settings: with them, the failure names where to get
// the game. The example's server and keys give way to the test's server without keys.
TEST_P(ConsoleProgramTest, TheReadmesExampleSettingsSayWhereToGetTheGameWhenADownloadFails)
{
    Publish("gone.dat", "x");
    fs::remove(server.Path() / "update/gone.dat");
    const std::string readme = ReadWholeFile(KESU_README);
    const std::size_t block = readme.find("```ini\n");
    ASSERT_NE(block, std::string::npos);
    std::istringstream example(readme.substr(block + 7, readme.find("```", block + 7) - block - 7));
    std::string settings = ReadWholeFile(install.Path() / "pirvex.dll"), section, webUrl;
    for (std::string line; std::getline(example, line);) {
        if (line.starts_with("["))
            section = line;
        if (section != "[Download]" && section != "[Security]")
            settings += line + "\n";
        if (line.starts_with("WebUrl="))
            webUrl = line.substr(7);
    }
    ASSERT_FALSE(webUrl.empty()) << settings;
    install.Write("pirvex.dll", settings);
    EXPECT_EQ(Run(), 0);
    EXPECT_NE(output.find("提示: 下载 gone.dat 文件失败"), std::string::npos) << output;
    EXPECT_EQ(output.find("提示: \n"), std::string::npos) << output;  // no empty box
    EXPECT_NE(output.find(webUrl), std::string::npos) << output;
}

TEST_P(ConsoleProgramTest, FailedDownloadReportsTheFailureAndInstallsNothing)
{
    Publish("readme.txt", "new readme");
    Publish("gone.dat", "will be removed");
    fs::remove(server.Path() / "update/gone.dat");
    install.Write("readme.txt", "old");

    InstallLobby();
    EXPECT_EQ(Run(), 0);
    EXPECT_NE(output.find("提示: 下载 gone.dat 文件失败"), std::string::npos) << output;
    EXPECT_EQ(ReadWholeFile(install.Path() / "readme.txt"), "old");
    EXPECT_EQ(LobbyArguments(), "");  // a failed run hands nothing back
}

TEST_P(ConsoleProgramTest, AnUnreachableServerShowsItsNumberAndEndsLikeAFinishedRun)
{
    InstallLobby();
    ClosedPort closed;
    install.Write("pirvex.dll", "[Download]\nsite1=127.0.0.1:" + std::to_string(closed.Port()) + "\n");
    EXPECT_EQ(Run({"Game7.dat", "1", "2", "-install"}), 0);
    // The number, and before it the cause in curl's words.
    EXPECT_TRUE(output.ends_with("\n提示: Error line:493\n")) << output;
    EXPECT_NE(output.find("Couldn't connect"), std::string::npos) << output;
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(LobbyArguments(), "-KesuUpdate_old.exe\n");
}

INSTANTIATE_TEST_SUITE_P(Display, ProgramTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Window" : "NoDisplay"; });
INSTANTIATE_TEST_SUITE_P(NoDisplay, ConsoleProgramTest, ::testing::Values(false));

}  // namespace
