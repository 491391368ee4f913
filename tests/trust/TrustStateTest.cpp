// The installation's record of accepted signatures: read back as written, damaged records read as
// nothing accepted, and never written through whatever is planted at its names.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "tests/support/TempDir.h"
#include "trust/TrustState.h"

namespace fs = std::filesystem;

namespace {

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

}  // namespace
