// The names Windows cannot hold, as the package check, the manifest reader and the publisher
// refuse them on every system; the names as Windows stores and compares them.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/WindowsName.h"

namespace {

TEST(WindowsNameTest, NamesWindowsCannotHoldAreRefusedWithTheComponentAndWhy)
{
    const std::string rooted = "it begins with a separator: on Windows an absolute path, a network share or a device path";
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"con", "\"con\" is the name of a device on Windows"},
        {"NUL.txt", "\"NUL.txt\" is the name of a device on Windows"},
        {"data\\aux.tar.gz", "\"aux.tar.gz\" is the name of a device on Windows"},
        {"com1 .x", "\"com1 .x\" is the name of a device on Windows"},
        {"Prn  ", "\"Prn  \" is the name of a device on Windows"},
        {"lpt9.", "\"lpt9.\" is the name of a device on Windows"},
        {"COM\xC2\xB9.dat", "\"COM\xC2\xB9.dat\" is the name of a device on Windows"},  // COM¹
        {"maps/lpt\xC2\xB3", "\"lpt\xC2\xB3\" is the name of a device on Windows"},     // LPT³
        {"nul.d/x", "\"nul.d\" is the name of a device on Windows"},                    // as a folder too
        {"a.txt:x", "\"a.txt:x\" holds a ':', which Windows reads as a drive or a stream of another file"},
        {"c:x", "\"c:x\" holds a ':', which Windows reads as a drive or a stream of another file"},
        {"C:\\games\\x.txt", "\"C:\" holds a ':', which Windows reads as a drive or a stream of another file"},
        {"a\\...\\b", "\"...\" is nothing but dots and blanks, which Windows drops"},
        {"a/ /b", "\" \" is nothing but dots and blanks, which Windows drops"},
        {"maps/. ./x", "\". .\" is nothing but dots and blanks, which Windows drops"},
        {"what?.txt", "\"what?.txt\" holds '?', which Windows does not allow in a name"},
        {"a<b", "\"a<b\" holds '<', which Windows does not allow in a name"},
        {"a>b", "\"a>b\" holds '>', which Windows does not allow in a name"},
        {"say \"hi\"", "\"say \"hi\"\" holds '\"', which Windows does not allow in a name"},
        {"a|b", "\"a|b\" holds '|', which Windows does not allow in a name"},
        {"*.dat", "\"*.dat\" holds '*', which Windows does not allow in a name"},
        {"tab\there", "\"tab\there\" holds a control character"},
        {"x\x1F", "\"x\x1F\" holds a control character"},
        {"\\\\server\\share\\x", rooted},
        {"//server/share/x", rooted},
        {"\\\\?\\C:\\x", rooted},
        {"/etc/passwd", rooted},
    };
    for (const auto& [name, fault] : refused)
        EXPECT_EQ(WindowsNameFault(name), fault) << name;

    for (const char* kept : {"con_fig.txt", "CONx", "context.dat", "a..b", "COM10", "LPT0", "com", "nul_d/x", "x.con",
                             "data\\map\\town.dat", "data/./x", "..data\\x", "../up.txt", "a\\", "地图 文件.dat",
                             "\xE5\x9F\x8E\xE9\x95\x87\\\xE6\xB7\xBA\xE8\x89\xB2.txt", "50%off #1 [v2] (final).txt",
                             "COM\xC2\xB9\xC2\xB9", "LPT\xC2\xB4", "readme.", "maps\\old .\\a.txt", "dir.\\a.txt"})
        EXPECT_EQ(WindowsNameFault(kept), std::nullopt) << kept;
}

TEST(WindowsNameTest, WindowsStoresANameWithoutTheDotsAndBlanksItsComponentsEndIn)
{
    const std::vector<std::pair<std::string, std::string>> stored = {
        {"readme.", "readme"},
        {"maps\\old .\\a.txt", "maps\\old\\a.txt"},
        {"dir.\\a.txt", "dir\\a.txt"},
        {"data/x. . ", "data/x"},
        {"a..b", "a..b"},
        {"..\\up.txt", "..\\up.txt"},
        {".\\x.", ".\\x"},
        {"a\\", "a\\"},
        {"a\\...\\b", "a\\...\\b"},  // refused by WindowsNameFault: nothing would be left of it
        {"\xE5\x9C\xB0\xE5\x9B\xBE .dat .", "\xE5\x9C\xB0\xE5\x9B\xBE .dat"},  // 地图 .dat .
    };
    for (const auto& [name, windows] : stored)
        EXPECT_EQ(WindowsStoredName(name), windows) << name;
}

TEST(WindowsNameTest, TwoSpellingsOfOneFileAreFoundWithTheFirstSpellingsIndex)
{
    CCaseFoldedNames names;
    struct Case {
        std::string name;
        std::optional<std::size_t> first;
        const char* why;
    } cases[] = {
        {"Data\\Town.dat", std::nullopt, ""},
        {"data/town.DAT", 0, "letter case"},
        {"Data/Town.dat", std::nullopt, "the same name with another separator is the same name"},
        {"Data\\.\\Town.dat", std::nullopt, "the same name"},
        {"Data\\Town.dat", std::nullopt, "the same name twice is no other spelling"},
        {"data/other.dat", std::nullopt, "folders that differ in case hold both files"},
        {"Data./Town.dat ", 0, "dots and blanks Windows drops"},
        {"\xC3\x84.txt", std::nullopt, "only ASCII letters are folded"},  // Ä
        {"\xC3\xA4.txt", std::nullopt, "only ASCII letters are folded"},  // ä
        {"readme", std::nullopt, ""},
        {"readme.", 9, "Windows stores it as readme"},
        {"Readme . ", 9, "both"},
        {"MAPS", std::nullopt, ""},
        {"maps/", 12, "a folder and a file of one name"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(names.Add(cases[i].name, i), cases[i].first) << cases[i].name << ": " << cases[i].why;

    EXPECT_EQ(CaseFoldedPath("Data\\.\\Town.DAT"), "data/town.dat");
    EXPECT_EQ(CaseFoldedPath("Data.\\Town.DAT. "), "data/town.dat");
    EXPECT_TRUE(DifferInLetterCaseAlone("Data\\Town.dat", "data/town.DAT"));
    EXPECT_FALSE(DifferInLetterCaseAlone("readme", "readme."));
    EXPECT_FALSE(DifferInLetterCaseAlone("readme", "Readme."));
}

}  // namespace
