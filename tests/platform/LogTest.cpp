// The log file: each line with its time, failures on standard error too, and a file that has
// grown too long loses its oldest half at a line's start.

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "platform/Log.h"
#include "tests/support/TempDir.h"

namespace {

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

TEST(LogTest, NotesGoToTheFileAloneAndCausesToStandardErrorToo)
{
    TempDir dir;
    ASSERT_TRUE(OpenLogFile(dir.Dir() + "run.log", 1 << 20));
    ::testing::internal::CaptureStderr();
    LogNote("GET http://example.net/update/a.dat: 200");
    LogLine("a.dat is not the published file");
    LogNote("end: the update could not be used: Error line:493\n");
    const std::string stderrText = ::testing::internal::GetCapturedStderr();
    CloseLogFile();
    LogNote("after the close: nowhere");

    EXPECT_EQ(stderrText.find("GET"), std::string::npos);
    EXPECT_NE(stderrText.find(": a.dat is not the published file\n"), std::string::npos);
    const std::vector<std::string> lines = Lines(ReadWholeFile(dir.Path() / "run.log"));
    ASSERT_EQ(lines.size(), 3u);
    const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} [+-]\d{4} .*)");
    for (const std::string& line : lines)
        EXPECT_TRUE(std::regex_match(line, stamp)) << line;
    EXPECT_TRUE(lines[0].ends_with(" GET http://example.net/update/a.dat: 200"));
    EXPECT_TRUE(lines[1].ends_with(" a.dat is not the published file"));
    EXPECT_TRUE(lines[2].ends_with(" end: the update could not be used: Error line:493"));
}

TEST(LogTest, ALogBeyondItsLimitKeepsItsNewerHalfFromALineStart)
{
    TempDir dir;
    {
        std::ofstream old(dir.Path() / "run.log", std::ios::binary);
        for (int i = 0; i < 1000; ++i)
            old << "old line " << i << " with some words to make it longer\n";
    }
    const auto before = std::filesystem::file_size(dir.Path() / "run.log");
    ASSERT_TRUE(OpenLogFile(dir.Dir() + "run.log", before - 1));
    LogNote("new line");
    CloseLogFile();
    const std::vector<std::string> lines = Lines(ReadWholeFile(dir.Path() / "run.log"));
    ASSERT_GT(lines.size(), 400u);
    EXPECT_LT(lines.size(), 600u);
    EXPECT_TRUE(lines.front().starts_with("old line ")) << lines.front();  // a whole line
    EXPECT_EQ(lines[lines.size() - 2], "old line 999 with some words to make it longer");
    EXPECT_TRUE(lines.back().ends_with(" new line"));

    // Below the limit nothing is dropped; a directory cannot be a log.
    ASSERT_TRUE(OpenLogFile(dir.Dir() + "run.log", 1 << 20));
    CloseLogFile();
    EXPECT_EQ(Lines(ReadWholeFile(dir.Path() / "run.log")).size(), lines.size());
    EXPECT_FALSE(OpenLogFile(dir.Dir(), 1 << 20));
    CloseLogFile();
}

}  // namespace
