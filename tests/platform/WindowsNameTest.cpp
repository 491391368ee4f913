// The names Windows cannot hold, as the package check, the manifest reader and the publisher
// refuse them on every system.

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
        {"data/x.", "\"x.\" ends in a dot or a blank, which Windows drops"},
        {"data /x", "\"data \" ends in a dot or a blank, which Windows drops"},
        {"a\\...\\b", "\"...\" ends in a dot or a blank, which Windows drops"},
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
                             "COM\xC2\xB9\xC2\xB9", "LPT\xC2\xB4"})
        EXPECT_EQ(WindowsNameFault(kept), std::nullopt) << kept;
}

TEST(WindowsNameTest, NamesThatDifferInAsciiLetterCaseAloneAreOneFile)
{
    CCaseFoldedNames names;
    EXPECT_EQ(names.Add("Data\\Town.dat"), std::nullopt);
    EXPECT_EQ(names.Add("data/town.DAT"), "Data\\Town.dat");
    EXPECT_EQ(names.Add("Data/Town.dat"), std::nullopt) << "the same name with another separator is the same name";
    EXPECT_EQ(names.Add("Data\\.\\Town.dat"), std::nullopt);
    EXPECT_EQ(names.Add("Data\\Town.dat"), std::nullopt) << "the same name twice is no case conflict";
    EXPECT_EQ(names.Add("data/other.dat"), std::nullopt) << "folders that differ in case hold both files";
    EXPECT_EQ(names.Add("\xC3\x84.txt"), std::nullopt);  // Ä: only ASCII letters are folded
    EXPECT_EQ(names.Add("\xC3\xA4.txt"), std::nullopt);  // ä
    EXPECT_EQ(names.Add("地图.dat"), std::nullopt);
    EXPECT_EQ(names.Add("MAPS"), std::nullopt);
    EXPECT_EQ(names.Add("maps/"), "MAPS") << "a folder and a file of one name";
    EXPECT_EQ(CaseFoldedPath("Data\\.\\Town.DAT"), "data/town.dat");
}

}  // namespace
