#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <ostream>
#include <set>
#include <sys/stat.h>

#include "install/Installer.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "tests/support/RunTool.h"
#include "tests/support/SmallFileSystem.h"
#include "tests/support/SymbolicLinks.h"
#include "tests/support/TempDir.h"
#include "tests/support/ZipBuilder.h"
#ifndef _WIN32
#include <unistd.h>

#include "tests/support/Unprivileged.h"
#endif

namespace fs = std::filesystem;

namespace {

// The name this test program runs under plays the updater's own name.
std::string OwnName()
{
    return fs::path(GetModuleFileName()).filename().string();
}

enum InstallStep { kBegin, kFinished, kFailed };

struct HeardStep {
    InstallStep step;
    std::string text;  // empty for kFinished
    bool operator==(const HeardStep&) const = default;
};

std::ostream& operator<<(std::ostream& os, const HeardStep& heard)
{
    return os << "{" << heard.step << ", \"" << heard.text << "\"}";
}

// Records what the installer tells, with an optional hook run on each step.
class InstallLog : public IInstallSink {
public:
    void OnInstallEvent(const InstallEvent& event) override
    {
        if (const auto* begun = std::get_if<install_event::Begun>(&event))
            Add({kBegin, std::string(begun->text)});
        else if (const auto* failed = std::get_if<install_event::Failed>(&event))
            Add({kFailed, std::string(failed->sentence)});
        else
            Add({kFinished, {}});
    }

    const std::vector<HeardStep>& Events() const { return heard; }
    std::vector<InstallStep> Codes() const
    {
        std::vector<InstallStep> steps;
        for (const HeardStep& each : heard)
            steps.push_back(each.step);
        return steps;
    }
    HeardStep Last() const { return heard.empty() ? HeardStep{kBegin, "nothing heard"} : heard.back(); }

    std::function<void(const HeardStep&)> onEvent;

private:
    void Add(const HeardStep& step)
    {
        heard.push_back(step);
        if (onEvent)
            onEvent(step);
    }
    std::vector<HeardStep> heard;
};

class InstallTest : public ::testing::Test {
protected:
    // The temporary directory, as the download manager leaves it.
    void SetUp() override { fs::create_directory(install.Path() / "tmp"); }
    void PackageMode() { package = true; }

    // Lists the download and places it where the download worker would have stored it.
    void Downloaded(const std::string& name, const std::string& tempName, const std::string& contents)
    {
        const SplitPath split = SplitAtLastSeparator(name);
        const std::string dir(split.directory.substr(0, split.directory.empty() ? 0 : split.directory.size() - 1));
        downloads.push_back({name, dir, std::string(split.name), install.Dir() + "tmp/" + tempName, std::nullopt});
        install.Write("tmp/" + tempName, contents);
    }
    // Lists the package, already in the temporary directory.
    void AddPackage(const std::string& name) { downloads.push_back({name, "", name, install.Dir() + "tmp/" + name, std::nullopt}); }

    bool Install(IInstallFiles& files = SystemInstallFiles())
    {
        return CInstaller(log, files).Install({install.Dir() + "tmp", install.Dir(), package, downloads});
    }

    // What the temporary directory holds: the downloads, and no journal or staging left.
    std::set<std::string> TempEntries() const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(install.Path() / "tmp"))
            names.insert(entry.path().filename().string());
        return names;
    }

    const std::vector<HeardStep> kBeginAndEnd = {
        {kBegin, "开始安装更新，请稍候..."},
        {kFinished, ""},
    };
    TempDir install;
    InstallLog log;
    bool package = false;
    std::vector<VerifiedDownload> downloads;
};

TEST_F(InstallTest, DownloadsMoveOverTheInstalledFilesAndIntoNewDirectories)
{
    install.Write("readme.txt", "old readme");
#ifndef _WIN32  // Windows keeps no permission bits to take over
    ::chmod((install.Path() / "readme.txt").c_str(), 0640);
#endif
    Downloaded("readme.txt", "readme.txt.dtm", "new readme");
    Downloaded("data\\map\\town.dat", "data_map_town.dat.dtm", "new town");

    EXPECT_TRUE(Install());
    EXPECT_EQ(ReadWholeFile(install.Path() / "readme.txt"), "new readme");
#ifndef _WIN32
    EXPECT_EQ(GetFileMode(install.Dir() + "readme.txt"), 0640u);
#endif
    EXPECT_EQ(ReadWholeFile(install.Path() / "data/map/town.dat"), "new town");
    EXPECT_TRUE(fs::is_empty(install.Path() / "tmp"));
    EXPECT_EQ(log.Events(), kBeginAndEnd);
}

TEST_F(InstallTest, AFileThatCannotBeReplacedUndoesTheFilesBeforeItAndTheNextAttemptInstallsAll)
{
    install.Write("readme.txt", "old readme");
    install.Write("busy.dat/inside.txt", "in the way");  // a directory where the file should go
    Downloaded("readme.txt", "readme.txt.dtm", "new readme");
    Downloaded("added.dat", "added.dat.dtm", "added");
    Downloaded("busy.dat", "busy.dat.dtm", "new busy");
    Downloaded("next.dat", "next.dat.dtm", "next");

    EXPECT_FALSE(Install());
    EXPECT_EQ(log.Events(), (std::vector<HeardStep>{
                                kBeginAndEnd[0], {kFailed, "busy.dat 无法安装（那里已有同名的文件夹），已停止更新。"}}));
    EXPECT_EQ(ReadWholeFile(install.Path() / "readme.txt"), "old readme");
    EXPECT_FALSE(fs::exists(install.Path() / "added.dat"));
    EXPECT_FALSE(fs::exists(install.Path() / "next.dat"));
    EXPECT_EQ(ReadWholeFile(install.Path() / "busy.dat/inside.txt"), "in the way");
    EXPECT_EQ(TempEntries(), (std::set<std::string>{"added.dat.dtm", "busy.dat.dtm", "next.dat.dtm", "readme.txt.dtm"}));

    fs::remove_all(install.Path() / "busy.dat");
    EXPECT_TRUE(Install());
    EXPECT_EQ(ReadWholeFile(install.Path() / "readme.txt"), "new readme");
    EXPECT_EQ(ReadWholeFile(install.Path() / "busy.dat"), "new busy");
    EXPECT_EQ(ReadWholeFile(install.Path() / "next.dat"), "next");
    EXPECT_EQ(TempEntries(), std::set<std::string>{});
}

TEST_F(InstallTest, AFileOperationThatFailsAtAnyStepOfTheJournalLeavesTheInstallationAsItWas)
{
    using Call = CFaultyInstallFiles::Call;
    struct Case {
        Call call;
        long nth;
        const char* sentence;
    } cases[] = {
        {Call::Move, 3, "c.dat 无法安装（磁盘读写出错），已停止更新。"},  // after two files took their place
        {Call::KeepSecondName, 2, "b.dat 无法安装（磁盘读写出错），已停止更新。"},
        {Call::MakeDirectory, 1, "无法记录安装步骤（磁盘读写出错），已停止更新。"},
        {Call::FlushFileSystem, 1, "无法记录安装步骤（磁盘读写出错），已停止更新。"},
    };
    for (const Case& c : cases) {
        for (const char* name : {"a.dat", "b.dat", "c.dat"})
            install.Write(name, std::string("old ") + name);
        downloads.clear();
        for (const char* name : {"a.dat", "b.dat", "c.dat", "added.dat"})
            Downloaded(name, std::string(name) + ".dtm", std::string("new ") + name);
        CFaultyInstallFiles files(c.call, c.nth, CFaultyInstallFiles::Fault::kFail, EIO);

        EXPECT_FALSE(Install(files));
        EXPECT_EQ(log.Last(), (HeardStep{kFailed, c.sentence}));
        for (const char* name : {"a.dat", "b.dat", "c.dat"})
            EXPECT_EQ(ReadWholeFile(install.Path() / name), std::string("old ") + name) << c.sentence;
        EXPECT_FALSE(fs::exists(install.Path() / "added.dat"));
        EXPECT_EQ(TempEntries(), (std::set<std::string>{"a.dat.dtm", "added.dat.dtm", "b.dat.dtm", "c.dat.dtm"}));
    }
    // The same files install once nothing fails.
    EXPECT_TRUE(Install());
    EXPECT_EQ(ReadWholeFile(install.Path() / "c.dat"), "new c.dat");
}

TEST_F(InstallTest, AFileInTheWayOfADirectoryOrANameOfNoFileStopsBeforeAnythingMoves)
{
    install.Write("readme.txt", "old readme");
    install.Write("maps", "a file where a directory must be");
    Downloaded("readme.txt", "readme.txt.dtm", "new readme");
    Downloaded("maps\\one.map", "maps_one.map.dtm", "map");
    EXPECT_FALSE(Install());
    EXPECT_EQ(log.Last().text, "maps\\one.map 无法安装（路径上有同名的文件），已停止更新。");
    EXPECT_EQ(ReadWholeFile(install.Path() / "readme.txt"), "old readme");
    EXPECT_EQ(ReadWholeFile(install.Path() / "maps"), "a file where a directory must be");

    downloads.clear();
    Downloaded("readme.txt", "readme.txt.dtm", "new readme");
    Downloaded("data\\", "data_.dtm", "a name that ends in a separator");
    EXPECT_FALSE(Install());
    EXPECT_EQ(log.Last().text, "data\\ 无法安装（名称以分隔符结尾，不是文件名），已停止更新。");
    EXPECT_EQ(ReadWholeFile(install.Path() / "readme.txt"), "old readme");
    EXPECT_EQ(TempEntries(), (std::set<std::string>{"data_.dtm", "maps_one.map.dtm", "readme.txt.dtm"}));
}

TEST_F(InstallTest, AnUnwritableDirectoryFailsTheRunAndTheFilesBeforeItComeBack)
{
#ifdef _WIN32
    GTEST_SKIP() << "a directory only another user may write to needs owners and a second user, which Wine does not keep";
#else
    install.Write("first.dat", "old first");
    install.Write("locked/held.dat", "old held");
    Downloaded("first.dat", "first.dat.dtm", "new first");
    Downloaded("locked\\held.dat", "locked_held.dat.dtm", "new held");
    constexpr uid_t kNobody = 65534;
    for (const auto& entry : fs::recursive_directory_iterator(install.Path()))
        ASSERT_EQ(::chown(entry.path().c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chown(install.Path().c_str(), kNobody, kNobody), 0);
    ::chmod((install.Path() / "locked").c_str(), 0555);

    // Root writes anywhere: the installation runs as a user who may not write in locked/.
    const int result = RunUnprivileged([&] { return Install() ? 0 : 1; });
    ::chmod((install.Path() / "locked").c_str(), 0755);
    ASSERT_NE(result, -1) << "no unprivileged process";
    EXPECT_EQ(result, 1);
    EXPECT_EQ(ReadWholeFile(install.Path() / "first.dat"), "old first");
    EXPECT_EQ(ReadWholeFile(install.Path() / "locked/held.dat"), "old held");
    EXPECT_EQ(TempEntries(), (std::set<std::string>{"first.dat.dtm", "locked_held.dat.dtm"}));
#endif
}

TEST_F(InstallTest, TheRunningExecutableStepsAsideForItsNewCopy)
{
    const std::string own = OwnName();
    std::string upper = own;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    install.Write(own, "running program");
#ifndef _WIN32
    ::chmod((install.Path() / own).c_str(), 0755);
#endif
    install.Write("KesuUpdate_old.exe", "from an earlier update");
    // In another directory and in other letter case, it still names the program itself.
    Downloaded("sub\\" + upper, "sub_" + upper + ".dtm", "new program");

    EXPECT_TRUE(Install());
    EXPECT_EQ(SetAsideExeName(), "KesuUpdate_old.exe");
    EXPECT_EQ(ReadWholeFile(install.Path() / "KesuUpdate_old.exe"), "running program");
    EXPECT_EQ(ReadWholeFile(install.Path() / own), "new program");
#ifndef _WIN32  // Windows keeps no permission bits to take over
    EXPECT_EQ(GetFileMode(install.Dir() + own), 0755u);
#endif
    // No second file in the other letter case (which on Windows is the same name).
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(install.Path()))
        names.insert(entry.path().filename().string());
    EXPECT_FALSE(names.contains(upper));
    EXPECT_FALSE(fs::exists(install.Path() / "sub"));
}

TEST_F(InstallTest, PackageIsUnpackedThenDeletedAfterTheFinishedEvent)
{
    PackageMode();
    WriteZip(install.Dir() + "tmp/Game7.zip", {{"game.bin", "game"}, {"maps/one.map", "map"}});
    AddPackage("Game7.zip");
    bool packageThereWhenFinished = false;
    log.onEvent = [&](const HeardStep& e) {
        if (e.step == kFinished)
            packageThereWhenFinished = fs::exists(install.Path() / "tmp/Game7.zip");
    };
    EXPECT_TRUE(Install());
    EXPECT_EQ(ReadWholeFile(install.Path() / "game.bin"), "game");
    EXPECT_EQ(ReadWholeFile(install.Path() / "maps/one.map"), "map");
    EXPECT_TRUE(packageThereWhenFinished);
    EXPECT_FALSE(fs::exists(install.Path() / "tmp/Game7.zip"));
    EXPECT_EQ(log.Events(), kBeginAndEnd);
}

TEST_F(InstallTest, AHalfReadablePackageInstallsNothingAndStays)
{
    PackageMode();
    install.Write("a.bin", "old a");
    ZipItem damaged{"b.bin", "bbbb"};
    damaged.deflate = false;
    damaged.raw = true;
    damaged.rawUncompressedSize = 4;
    damaged.rawCrc = Crc32("bbbb") ^ 1;  // its data fail their CRC-32 once a.bin is unpacked
    WriteZip(install.Dir() + "tmp/Game7.zip", {{"a.bin", "new a"}, damaged});
    AddPackage("Game7.zip");
    EXPECT_FALSE(Install());
    EXPECT_EQ(log.Last().text, "更新包中的 b.bin 无法解压（数据已损坏），已停止更新。");
    EXPECT_EQ(ReadWholeFile(install.Path() / "a.bin"), "old a");
    EXPECT_FALSE(fs::exists(install.Path() / "b.bin"));
    EXPECT_EQ(TempEntries(), std::set<std::string>{"Game7.zip"});
}

TEST_F(InstallTest, APackageEntryThatCannotBePutInPlaceUndoesTheEntriesBeforeIt)
{
    PackageMode();
    install.Write("a.bin", "old a");
    install.Write("maps/one.map/inside", "a directory where the entry goes");
    WriteZip(install.Dir() + "tmp/Game7.zip", {{"a.bin", "new a"}, {"new.bin", "new"}, {"maps/one.map", "map"}});
    AddPackage("Game7.zip");
    EXPECT_FALSE(Install());
    EXPECT_EQ(log.Last().text, "更新包中的 maps/one.map 无法安装（那里已有同名的文件夹），已停止更新。");
    EXPECT_EQ(ReadWholeFile(install.Path() / "a.bin"), "old a");
    EXPECT_FALSE(fs::exists(install.Path() / "new.bin"));
    EXPECT_EQ(TempEntries(), std::set<std::string>{"Game7.zip"});
}

TEST_F(InstallTest, APackageWritesThroughAFolderThePlayerMovedToAnotherDiskAllOrNothing)
{
    PackageMode();
    if (!SymbolicLinksCanBeMade(install.Path()))
        GTEST_SKIP() << kNoSymbolicLinks;
    TempDir elsewhere;
    SmallFileSystem disk(elsewhere.Path() / "data", "1m");
    if (!disk.Mounted())
        GTEST_SKIP() << "no file system can be mounted here";
    elsewhere.Write("data/x.dat", "old x");
    elsewhere.Write("data/keep.dat", "the player's");
    fs::create_directory_symlink(elsewhere.Path() / "data", install.Path() / "data");
    install.Write("maps/one.map/inside", "a directory where the last entry goes");
    TempDir build;
    build.Write("data/x.dat", "new x");
    build.Write("maps/one.map", "map");
    const ToolRun zip = RunTool(build.Path(), "zip", {"-q", "-r", install.Dir() + "tmp/Game7.zip", "data", "maps"});
    ASSERT_EQ(zip.status, 0) << zip.output;
    AddPackage("Game7.zip");

    // data/x.dat went to the other disk before the last entry failed: it comes back.
    EXPECT_FALSE(Install());
    EXPECT_EQ(log.Last().text, "更新包中的 maps/one.map 无法安装（那里已有同名的文件夹），已停止更新。");
    EXPECT_EQ(ReadWholeFile(elsewhere.Path() / "data/x.dat"), "old x");

    fs::remove_all(install.Path() / "maps");
    EXPECT_TRUE(Install());
    EXPECT_TRUE(fs::is_symlink(install.Path() / "data"));
    EXPECT_EQ(ReadWholeFile(elsewhere.Path() / "data/x.dat"), "new x");
    EXPECT_EQ(ReadWholeFile(install.Path() / "maps/one.map"), "map");
    std::set<std::string> onTheOtherDisk;
    for (const auto& entry : fs::directory_iterator(elsewhere.Path() / "data"))
        onTheOtherDisk.insert(entry.path().filename().string());
    EXPECT_EQ(onTheOtherDisk, (std::set<std::string>{"keep.dat", "x.dat"}));
    EXPECT_EQ(TempEntries(), std::set<std::string>{});
}

TEST_F(InstallTest, ATemporaryDirectoryOnAnotherFileSystemIsCopiedBesideTheInstallationFirst)
{
    SmallFileSystem tmp(install.Path() / "tmp", "1m");
    if (!tmp.Mounted())
        GTEST_SKIP() << "no file system can be mounted here";
    install.Write("readme.txt", "old readme");
    Downloaded("readme.txt", "readme.txt.dtm", "new readme");
    Downloaded("data\\town.dat", "data_town.dat.dtm", "new town");
    EXPECT_TRUE(Install());
    EXPECT_EQ(ReadWholeFile(install.Path() / "readme.txt"), "new readme");
    EXPECT_EQ(ReadWholeFile(install.Path() / "data/town.dat"), "new town");
    EXPECT_FALSE(fs::exists(install.Path() / ".KesuUpdate.staging"));
    EXPECT_EQ(TempEntries(), std::set<std::string>{});
    EXPECT_EQ(log.Events(), kBeginAndEnd);
}

TEST_F(InstallTest, AFullDiskWhileUnpackingInstallsNothingAndSaysSo)
{
    PackageMode();
    std::string numbers;  // 3 MB that deflate packs into a few hundred kilobytes
    for (int i = 0; numbers.size() < (3 << 20); ++i)
        numbers += "tile " + std::to_string(i % 4096) + " of the map\n";
    TempDir packed;
    WriteZip(packed.Dir() + "Game7.zip", {{"a.bin", "new a"}, {"big.bin", numbers}});
    // The installation on a file system with room for the package, not for what it unpacks to.
    SmallFileSystem disk(install.Path(), "1m");
    if (!disk.Mounted())
        GTEST_SKIP() << "no file system can be mounted here";
    install.Write("a.bin", "old a");
    fs::create_directories(install.Path() / "tmp");
    install.Write("tmp/Game7.zip", ReadWholeFile(packed.Path() / "Game7.zip"));
    ASSERT_EQ(fs::file_size(install.Path() / "tmp/Game7.zip"), fs::file_size(packed.Path() / "Game7.zip"));
    AddPackage("Game7.zip");
    EXPECT_FALSE(Install());
    EXPECT_EQ(log.Last().text, "更新包中的 big.bin 无法解压（写入失败，磁盘可能已满），已停止更新。");
    EXPECT_EQ(ReadWholeFile(install.Path() / "a.bin"), "old a");
    EXPECT_FALSE(fs::exists(install.Path() / "big.bin"));
    EXPECT_EQ(TempEntries(), std::set<std::string>{"Game7.zip"});
}

TEST_F(InstallTest, PackageModeWithoutExactlyOneTaskUnpacksNothing)
{
    PackageMode();
    WriteZip(install.Dir() + "tmp/a.zip", {{"a.bin", "a"}});
    WriteZip(install.Dir() + "tmp/b.zip", {{"b.bin", "b"}});
    EXPECT_TRUE(Install());
    AddPackage("a.zip");
    AddPackage("b.zip");
    EXPECT_TRUE(Install());
    EXPECT_FALSE(fs::exists(install.Path() / "a.bin"));
    EXPECT_TRUE(fs::exists(install.Path() / "tmp/a.zip"));
    EXPECT_EQ(log.Codes(), (std::vector<InstallStep>{kBegin, kFinished, kBegin, kFinished}));
}

}  // namespace
