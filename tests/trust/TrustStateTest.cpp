// The installation's record of accepted signatures: read back as written, damaged records read as
// nothing accepted, and never written through whatever is planted at its names.

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <set>
#include <sys/stat.h>

#include "tests/support/SmallFileSystem.h"
#include "tests/support/TempDir.h"
#include "trust/TrustState.h"

namespace fs = std::filesystem;

namespace {

std::set<std::string> Names(const fs::path& directory)
{
    std::set<std::string> names;
    for (const auto& item : fs::directory_iterator(directory))
        names.insert(item.path().filename().string());
    return names;
}

TEST(TrustStateTest, TheRecordReadsBackAsWritten)
{
    TempDir dir;
    const std::string path = (dir.Path() / "KesuUpdate.trust").string();
    EXPECT_TRUE(ReadAcceptedTimestamps(path).empty());  // missing: nothing accepted yet
    const AcceptedTimestamps written{{"update.xml", 1796704391}, {"Game7.zip", 42}, {"名字 带空格.xml", 7}};
    ASSERT_TRUE(WriteAcceptedTimestamps(path, written));
    EXPECT_EQ(ReadAcceptedTimestamps(path), written);
    EXPECT_EQ(fs::directory_iterator(dir.Path())->path().filename(), "KesuUpdate.trust");  // nothing else left
}

TEST(TrustStateTest, ADamagedRecordMeansNothingAccepted)
{
    TempDir dir;
    const std::string path = (dir.Path() / "KesuUpdate.trust").string();
    ASSERT_TRUE(WriteAcceptedTimestamps(path, {{"update.xml", 100}, {"a.zip", 5}}));
    const std::string good = ReadWholeFile(path);
    for (const std::string& damaged :
         {std::string(), good.substr(0, good.size() / 2), std::string("garbage\n"), good + "x\tname\n", good + "12\n",
          good + "99999999999999999999999\tname\n", good + "\tname\n", std::string(2 << 20, '1')}) {
        dir.Write("KesuUpdate.trust", damaged);
        EXPECT_TRUE(ReadAcceptedTimestamps(path).empty()) << damaged.substr(0, 80);
    }
    fs::remove(path);
    ::mkfifo(path.c_str(), 0600);  // nothing waits for a writer
    EXPECT_TRUE(ReadAcceptedTimestamps(path).empty());
}

TEST(TrustStateTest, ALinkPlantedAtTheRecordIsReplacedNeverWrittenThrough)
{
    TempDir dir, elsewhere;
    const fs::path victim = elsewhere.Path() / "victim";
    elsewhere.Write("victim", "precious");
    const fs::path record = dir.Path() / "KesuUpdate.trust";
    fs::create_symlink(victim, record);
    EXPECT_TRUE(ReadAcceptedTimestamps(record.string()).empty());  // a link is no record
    ASSERT_TRUE(WriteAcceptedTimestamps(record.string(), {{"update.xml", 1}}));
    EXPECT_EQ(ReadWholeFile(victim), "precious");
    EXPECT_FALSE(fs::is_symlink(record));
    EXPECT_EQ(ReadAcceptedTimestamps(record.string()).at("update.xml"), 1u);
}

// A record that cannot be replaced keeps the one there: what was accepted before stays accepted.
TEST(TrustStateTest, ARecordThatCannotBeWrittenKeepsTheOldOneAndLeavesNoTemporary)
{
    TempDir dir;
    const fs::path disk = dir.Path() / "disk";
    SmallFileSystem small(disk, "64k");
    if (!small.Mounted())
        GTEST_SKIP() << "no file system can be mounted here";
    const std::string path = (disk / "KesuUpdate.trust").string();
    const AcceptedTimestamps old{{"update.xml", 100}};
    ASSERT_TRUE(WriteAcceptedTimestamps(path, old));
    {
        std::ofstream filler(disk / "filler", std::ios::binary);
        const std::string block(4096, 'f');
        while (filler.write(block.data(), block.size()) && filler.flush())
            ;
    }
    errno = 0;
    EXPECT_FALSE(WriteAcceptedTimestamps(path, {{"update.xml", 200}, {std::string(8000, 'n'), 1}}));
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(ReadAcceptedTimestamps(path), old);
    EXPECT_EQ(Names(disk), (std::set<std::string>{"KesuUpdate.trust", "filler"}));

    // A folder at the record's name is no record, and is not replaced by one.
    fs::create_directories(dir.Path() / "KesuUpdate.trust/inside");
    const std::string folder = (dir.Path() / "KesuUpdate.trust").string();
    EXPECT_TRUE(ReadAcceptedTimestamps(folder).empty());
    errno = 0;
    EXPECT_FALSE(WriteAcceptedTimestamps(folder, old));
    EXPECT_TRUE(errno == EISDIR || errno == ENOTEMPTY) << errno;
    EXPECT_TRUE(fs::is_directory(dir.Path() / "KesuUpdate.trust/inside"));
    EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"KesuUpdate.trust", "disk"}));

    // Nor is one written where the directory is missing.
    errno = 0;
    EXPECT_FALSE(WriteAcceptedTimestamps((dir.Path() / "missing/KesuUpdate.trust").string(), old));
    EXPECT_EQ(errno, ENOENT);
}

}  // namespace
