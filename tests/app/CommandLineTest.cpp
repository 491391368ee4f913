#include <gtest/gtest.h>

#include <climits>

#include "app/CommandLine.h"

namespace {

struct Case {
    std::string line;
    std::string manifest;
    int param1;
    int param2;
    int manifestMode;
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << '"' << c.line << '"';
}

class CommandLineTest : public ::testing::TestWithParam<Case> {};

TEST_P(CommandLineTest, ParsesAsTheLobbyExpects)
{
    const Case& c = GetParam();
    CommandLine parsed = ParseCommandLine(c.line, "update.xml");
    EXPECT_EQ(parsed.strManifestName, c.manifest);
    EXPECT_EQ(parsed.nLobbyParam1, c.param1);
    EXPECT_EQ(parsed.nLobbyParam2, c.param2);
    EXPECT_EQ(parsed.bManifestMode, c.manifestMode);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CommandLineTest,
    ::testing::Values(
        Case{"", "update.xml", -1, -1, 1},
        Case{"Game7.dat 12 34", "Game7.xml", 12, 34, 1},
        Case{"Game7.dat 12 34 -install", "Game7.xml", 12, 34, 0},
        Case{"Game7.dat 12", "Game7.xml", 12, -1, 1},
        Case{"patch.xml", ".xml", 0, -1, 1},
        Case{"42", ".xml", 42, -1, 1},
        Case{"a.b 1 2", ".xml", 1, 2, 1},
        Case{"abcd 1 2", ".xml", 1, 2, 1},
        Case{"abcde 1 2", "a.xml", 1, 2, 1},
        Case{"x.dat  5 6", "x.xml", 0, 5, 1},
        Case{"-install x.dat 1 2", "-ins.xml", 0, 1, 0},
        Case{"Game7.dat -3 +4", "Game7.xml", -3, 4, 1},
        Case{"Game7.dat 12abc 7x", "Game7.xml", 12, 7, 1},
        Case{"Game7.dat 99999999999 -99999999999", "Game7.xml", INT_MAX, INT_MIN, 1},
        Case{"Game7.dat -install", "Game7.xml", 0, -1, 0},
        Case{"Game7.dat 1 2-install", "Game7.xml", 1, 2, 0},
        Case{"Game7.dat 1 2 -INSTALL", "Game7.xml", 1, 2, 1},
        Case{"   ", ".xml", 0, 0, 1},
        Case{" ", ".xml", 0, -1, 1},
        Case{"\t\t", ".xml", 0, -1, 1},
        Case{"Game7.dat\t12\t34", ".xml", 0, -1, 1},
        Case{"Game7.dat \t12 \t34", "Game7.xml", 12, 34, 1},
        Case{"游戏更新.dat 3 4", "游戏更新.xml", 3, 4, 1},
        Case{"游戏更新包 3 4", "游.xml", 3, 4, 1},
        Case{"更新 1 1", ".xml", 1, 1, 1},
        Case{"\xFF\xFE\xFD\xFCz 1 1", "\xFF.xml", 1, 1, 1}));

TEST(CommandLineLongTest, VeryLongLinesAreParsedWhole)
{
    std::string name(100000, 'n');
    CommandLine parsed = ParseCommandLine(name + ".dat 7 " + std::string(50000, '8'), "update.xml");
    EXPECT_EQ(parsed.strManifestName, name + ".xml");
    EXPECT_EQ(parsed.nLobbyParam1, 7);
    EXPECT_EQ(parsed.nLobbyParam2, INT_MAX);

    parsed = ParseCommandLine(std::string(200000, ' '), "update.xml");
    EXPECT_EQ(parsed.strManifestName, ".xml");
    EXPECT_EQ(parsed.nLobbyParam1, 0);
    EXPECT_EQ(parsed.nLobbyParam2, 0);
}

}  // namespace
