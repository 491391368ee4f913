#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include "download/DownloadMgr.h"
#include "platform/FileSystem.h"
#include "tests/support/EventLog.h"
#include "tests/support/TempDir.h"
#include "tests/support/ZipBuilder.h"

namespace fs = std::filesystem;

namespace {

// The name this test program runs under plays the updater's own name.
std::string OwnName()
{
    return fs::path(GetModuleFileName()).filename().string();
}

class InstallTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mgr.Initialize(&log, {"http://unused/", install.Dir() + "tmp", install.Dir()}));
    }

    void PackageMode()
    {
        ASSERT_TRUE(mgr.Initialize(&log, {"http://unused/", install.Dir() + "tmp", install.Dir(), false}));
    }

    // Queues the task and places its download where the worker would have stored it.
    void Downloaded(const std::string& name, const std::string& tempName, const std::string& contents)
    {
        mgr.AddTask(name.c_str());
        install.Write("tmp/" + tempName, contents);
    }

    const std::vector<RecordedEvent> kBeginAndEnd = {
        {0, 0, DOWNLOAD_EVENT_INSTALL_BEGIN, "开始安装更新，请稍候..."},
        {0, 0, DOWNLOAD_EVENT_FINISHED, "<null>"},
    };
    TempDir install;
    EventLog log;
    CDownloadMgr mgr;
};

TEST_F(InstallTest, DownloadsMoveOverTheInstalledFilesAndIntoNewDirectories)
{
    install.Write("readme.txt", "old readme");
    ::chmod((install.Path() / "readme.txt").c_str(), 0640);
    Downloaded("readme.txt", "readme.txt.dtm", "new readme");
    Downloaded("data\\map\\town.dat", "data_map_town.dat.dtm", "new town");

    EXPECT_EQ(mgr.Install(), 0);
    EXPECT_EQ(ReadWholeFile(install.Path() / "readme.txt"), "new readme");
    EXPECT_EQ(GetFileMode(install.Dir() + "readme.txt"), 0640u);
    EXPECT_EQ(ReadWholeFile(install.Path() / "data/map/town.dat"), "new town");
    EXPECT_TRUE(fs::is_empty(install.Path() / "tmp"));
    EXPECT_EQ(log.Events(), kBeginAndEnd);
    EXPECT_EQ(mgr.LastEvent(), 0);  // installing raises nothing that a cancel could take for the end
}

TEST_F(InstallTest, AFileThatCannotBeReplacedIsPassedOver)
{
    fs::create_directories(install.Path() / "busy.dat");  // a directory where the file should go
    Downloaded("busy.dat", "busy.dat.dtm", "new");
    Downloaded("next.dat", "next.dat.dtm", "next");
    EXPECT_EQ(mgr.Install(), 0);
    EXPECT_TRUE(fs::is_directory(install.Path() / "busy.dat"));
    EXPECT_EQ(ReadWholeFile(install.Path() / "tmp/busy.dat.dtm"), "new");
    EXPECT_EQ(ReadWholeFile(install.Path() / "next.dat"), "next");
    EXPECT_EQ(log.Events(), kBeginAndEnd);
}

TEST_F(InstallTest, TheRunningExecutableStepsAsideForItsNewCopy)
{
    const std::string own = OwnName();
    std::string upper = own;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    install.Write(own, "running program");
    ::chmod((install.Path() / own).c_str(), 0755);
    install.Write("KesuUpdate_old.exe", "from an earlier update");
    // In another directory and in other letter case, it still names the program itself.
    Downloaded("sub\\" + upper, "sub_" + upper + ".dtm", "new program");

    EXPECT_EQ(mgr.Install(), 0);
    EXPECT_EQ(ReadWholeFile(install.Path() / "KesuUpdate_old.exe"), "running program");
    EXPECT_EQ(ReadWholeFile(install.Path() / own), "new program");
    EXPECT_EQ(GetFileMode(install.Dir() + own), 0755u);
    EXPECT_FALSE(fs::exists(install.Path() / upper));
    EXPECT_FALSE(fs::exists(install.Path() / "sub"));
}

TEST_F(InstallTest, PackageIsUnpackedThenDeletedAfterTheFinishedEvent)
{
    PackageMode();
    WriteZip(install.Dir() + "tmp/Game7.zip", {{"game.bin", "game"}, {"maps/one.map", "map"}});
    mgr.AddTask("Game7.zip");
    bool packageThereWhenFinished = false;
    log.onEvent = [&](const RecordedEvent& e) {
        if (e.nEvent == DOWNLOAD_EVENT_FINISHED)
            packageThereWhenFinished = fs::exists(install.Path() / "tmp/Game7.zip");
    };
    EXPECT_EQ(mgr.Install(), 0);
    EXPECT_EQ(ReadWholeFile(install.Path() / "game.bin"), "game");
    EXPECT_EQ(ReadWholeFile(install.Path() / "maps/one.map"), "map");
    EXPECT_TRUE(packageThereWhenFinished);
    EXPECT_FALSE(fs::exists(install.Path() / "tmp/Game7.zip"));
    EXPECT_EQ(log.Events(), kBeginAndEnd);
}

TEST_F(InstallTest, PackageModeWithoutExactlyOneTaskUnpacksNothing)
{
    PackageMode();
    WriteZip(install.Dir() + "tmp/a.zip", {{"a.bin", "a"}});
    WriteZip(install.Dir() + "tmp/b.zip", {{"b.bin", "b"}});
    EXPECT_EQ(mgr.Install(), 0);
    mgr.AddTask("a.zip");
    mgr.AddTask("b.zip");
    EXPECT_EQ(mgr.Install(), 0);
    EXPECT_FALSE(fs::exists(install.Path() / "a.bin"));
    EXPECT_TRUE(fs::exists(install.Path() / "tmp/a.zip"));
    EXPECT_EQ(log.Codes(), (std::vector<int>{DOWNLOAD_EVENT_INSTALL_BEGIN, DOWNLOAD_EVENT_FINISHED,
                                             DOWNLOAD_EVENT_INSTALL_BEGIN, DOWNLOAD_EVENT_FINISHED}));
}

TEST(CreateDirectoryTreeTest, EveryLevelAtEachSeparator)
{
    TempDir dir;
    EXPECT_TRUE(CreateDirectoryTree(dir.Dir() + "\\a\\b\\c"));
    EXPECT_TRUE(fs::is_directory(dir.Path() / "a/b/c"));
    EXPECT_FALSE(CreateDirectoryTree(dir.Dir() + "\\a\\b"));  // already there
    // A forward slash separates levels as a backslash does.
    EXPECT_TRUE(CreateDirectoryTree(dir.Dir() + "\\x/y\\z"));
    EXPECT_TRUE(fs::is_directory(dir.Path() / "x/y/z"));
}

}  // namespace
