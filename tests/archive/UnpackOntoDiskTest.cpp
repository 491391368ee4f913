// Unpacking onto a disk that refuses: a full one, a read-only one, a directory where a file or
// link of the package goes. The entry fails with the code the log words, what was installed stays
// as it was, and no temporary file is left to fill the disk. Also: extended timestamps cut short,
// and names in UTF-8 that no tool marked as such.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sys/stat.h>

#include "archive/UnzipPackage.h"
#include "archive/ZipReader.h"
#include "platform/Path.h"
#include "tests/support/RunTool.h"
#include "tests/support/SmallFileSystem.h"
#include "tests/support/SymbolicLinks.h"
#include "tests/support/TempDir.h"
#include "tests/support/ZipBuilder.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kEpochOffset = 11644473600ull;

std::uint64_t FileTime(std::int64_t unixSeconds)
{
    return static_cast<std::uint64_t>(unixSeconds + static_cast<std::int64_t>(kEpochOffset)) * 10000000ull;
}

std::set<std::string> Names(const fs::path& directory)
{
    std::set<std::string> names;
    for (const auto& item : fs::directory_iterator(directory))
        names.insert(item.path().filename().string());
    return names;
}

ZipItem Link(const std::string& name, const std::string& target)
{
    ZipItem link{name, target};
    link.external = 0120777u << 16;
    return link;
}

// Data that deflate cannot shrink much: a disk fills with about what the archive holds.
std::string Noise(std::size_t size)
{
    std::string data(size, '\0');
    std::uint32_t state = 12345;
    for (char& c : data) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    return data;
}

class UnpackOntoDiskTest : public ::testing::Test {
protected:
    std::string Package(const std::vector<ZipItem>& items)
    {
        const std::string path = (dir.Path() / "p.zip").string();
        WriteZip(path, items);
        return path;
    }

    TempDir dir;
};

TEST_F(UnpackOntoDiskTest, AFullDiskFailsTheEntryAndGivesItsSpaceBack)
{
    const fs::path disk = dir.Path() / "disk";
    SmallFileSystem small(disk, "512k");
    if (!small.Mounted())
        GTEST_SKIP() << "no file system can be mounted here";
    std::ofstream(disk / "game.bin") << "installed before";
    const std::string package = Package({{"game.bin", Noise(2 << 20)}, {"small.txt", Noise(100 << 10)}});

    std::unique_ptr<CZipReader> reader = CZipReader::Open(package);
    ASSERT_TRUE(reader);
    const ZipResult result = reader->ExtractEntry(0, (disk / "game.bin").string());
    EXPECT_EQ(result, ZipResult::Write);
    EXPECT_STREQ(ZipResultText(result), "writing its file failed");
    EXPECT_EQ(ReadWholeFile(disk / "game.bin"), "installed before");
    EXPECT_EQ(Names(disk), std::set<std::string>{"game.bin"});
    // The space the failed entry took is free again: a smaller entry fits.
    EXPECT_EQ(reader->ExtractEntry(1, (disk / "small.txt").string()), ZipResult::Ok);
    EXPECT_EQ(ReadWholeFile(disk / "small.txt"), Noise(100 << 10));
    reader.reset();

    // The whole package stops at the entry that did not fit.
    fs::remove(disk / "small.txt");
    std::vector<std::string> names;
    EXPECT_EQ(UnzipPackage(package, disk.string(), names), ZipResult::Write);
    EXPECT_EQ(names, std::vector<std::string>{"game.bin"});
    EXPECT_EQ(Names(disk), std::set<std::string>{"game.bin"});
}

TEST_F(UnpackOntoDiskTest, AReadOnlyDiskFailsFilesAndLinksAndKeepsWhatIsThere)
{
    const fs::path disk = dir.Path() / "disk";
    SmallFileSystem small(disk, "1m");
    if (!small.Mounted())
        GTEST_SKIP() << "no file system can be mounted here";
    std::ofstream(disk / "game.bin") << "installed before";
    const bool links = SymbolicLinksCanBeMade(disk);  // else the link's part is left out
    if (links)
        fs::create_symlink("game.bin", disk / "current");
    ASSERT_EQ(RunTool(dir.Path(), "mount", {"-o", "remount,ro", disk.string()}).status, 0);

    const std::string package = Package({{"game.bin", "new"}, Link("current", "other.bin"), {"new.txt", "n"}});
    std::unique_ptr<CZipReader> reader = CZipReader::Open(package);
    ASSERT_TRUE(reader);
    for (int entry : {0, 1, 2}) {
        const std::string name = entry == 0 ? "game.bin" : entry == 1 ? "current" : "new.txt";
        const ZipResult result = reader->ExtractEntry(entry, (disk / name).string());
        EXPECT_EQ(result, ZipResult::NoFile) << name;
        EXPECT_STREQ(ZipResultText(result), "its file could not be created") << name;
    }
    EXPECT_EQ(ReadWholeFile(disk / "game.bin"), "installed before");
    std::set<std::string> kept{"game.bin"};
    if (links) {
        EXPECT_EQ(fs::read_symlink(disk / "current"), "game.bin");
        kept.insert("current");
    }
    EXPECT_EQ(Names(disk), kept);
}

TEST_F(UnpackOntoDiskTest, ADirectoryWhereAFileOrLinkGoesStaysWithEverythingInIt)
{
    // A folder the player made where the new build has a file: renaming over it cannot work.
    TempDir dest;
    dest.Write("game.bin/save.dat", "the player's save");
    dest.Write("current/notes.txt", "notes");
    const std::string package = Package({{"game.bin", "new"}, Link("current", "game.bin")});
    std::unique_ptr<CZipReader> reader = CZipReader::Open(package);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->ExtractEntry(0, dest.Dir() + "game.bin"), ZipResult::NoFile);
    EXPECT_EQ(reader->ExtractEntry(1, dest.Dir() + "current"), ZipResult::NoFile);
    EXPECT_EQ(ReadWholeFile(dest.Path() / "game.bin/save.dat"), "the player's save");
    EXPECT_EQ(ReadWholeFile(dest.Path() / "current/notes.txt"), "notes");
    EXPECT_EQ(Names(dest.Path()), (std::set<std::string>{"current", "game.bin"}));
    EXPECT_EQ(Names(dest.Path() / "game.bin"), std::set<std::string>{"save.dat"});
    EXPECT_EQ(Names(dest.Path() / "current"), std::set<std::string>{"notes.txt"});
}

TEST_F(UnpackOntoDiskTest, ALinkWhoseTargetIsDamagedOrLongerThanAnyPathIsNotMade)
{
    ZipItem damaged = Link("current", "game.bin");
    damaged.raw = true, damaged.deflate = false;
    damaged.rawCrc = Crc32("game.bin") ^ 1, damaged.rawUncompressedSize = 8;
    const ZipItem endless = Link("endless", std::string(5000, 'd'));
    TempDir dest;
    dest.Write("current", "installed before");
    dest.Write("endless", "installed before");
    std::unique_ptr<CZipReader> reader = CZipReader::Open(Package({{"game.bin", "g"}, damaged, endless}));
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->ExtractEntry(1, dest.Dir() + "current"), ZipResult::Flate);
    EXPECT_EQ(reader->ExtractEntry(2, dest.Dir() + "endless"), ZipResult::Flate);
    for (const char* name : {"current", "endless"}) {
        EXPECT_FALSE(fs::is_symlink(dest.Path() / name)) << name;
        EXPECT_EQ(ReadWholeFile(dest.Path() / name), "installed before") << name;
    }
    EXPECT_EQ(Names(dest.Path()), (std::set<std::string>{"current", "endless"}));
}

TEST_F(UnpackOntoDiskTest, AnExtendedTimestampCutShortGivesTheTimesItHolds)
{
    const std::int32_t modified = 1700000000, accessed = 1700000500;
    ZipItem whole{"whole.txt", "w"}, cut{"cut.txt", "c"}, none{"none.txt", "n"};
    whole.localExtra = ExtendedTimestamp(3, modified, accessed);
    // The record says it holds both times, but the extra field ends after the first.
    cut.localExtra = whole.localExtra.substr(0, 9);
    std::unique_ptr<CZipReader> reader = CZipReader::Open(Package({whole, cut, none}));
    ASSERT_TRUE(reader);
    tagZipEntry entries[3];
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(reader->GetEntry(i, entries[i]), ZipResult::Ok) << i;
    EXPECT_EQ(entries[0].mtime, FileTime(modified));
    EXPECT_EQ(entries[0].atime, FileTime(accessed));
    EXPECT_EQ(entries[1].mtime, FileTime(modified));
    EXPECT_EQ(entries[1].atime, entries[2].atime);  // the DOS time, not bytes beyond the record
    EXPECT_NE(entries[1].atime, FileTime(accessed));
}

TEST_F(UnpackOntoDiskTest, Utf8NamesNoToolMarkedArriveAsTheyAre)
{
    // Not marked as UTF-8, but UTF-8: not to be read as GBK. Each name has a character whose
    // first byte allows only part of the second bytes (E0, ED, F0, F1-F3, F4).
    const std::string names[] = {
        "\xE0\xB8\x81.txt",              // Thai ko kai, U+0E01
        "\xED\x9E\xA3.txt",              // Hangul hih, U+D7A3
        "\xF0\xA0\x80\x80.txt",          // CJK extension B, U+20000
        "\xF0\x9F\x8E\xAE.txt",          // a game controller, U+1F3AE
        "\xF3\xA0\x80\x81.txt",          // a tag, U+E0001
        "\xF4\x80\x80\x80.txt",          // private use, U+100000
    };
    std::vector<ZipItem> items;
    for (const std::string& name : names)
        items.push_back({name, name});
    TempDir dest;
    std::vector<std::string> unpacked;
    ASSERT_EQ(UnzipPackage(Package(items), dest.Path().string(), unpacked), ZipResult::Ok);
    EXPECT_EQ(unpacked, std::vector<std::string>(std::begin(names), std::end(names)));
    for (const std::string& name : names)
        EXPECT_EQ(ReadWholeFile(dest.Path() / PathFromUtf8(name)), name);
    EXPECT_EQ(Names(dest.Path()).size(), std::size(names));
}

}  // namespace
