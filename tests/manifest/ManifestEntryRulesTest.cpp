// The rules an entry of the manifest meets, read from the text alone, row by row: an entry is
// kept (under the name Windows stores), passed over, or ends the list with a sentence that names
// it; the entries before it stay either way.

#include <gtest/gtest.h>

#include "manifest/ManifestReader.h"

namespace {

const std::string kMd5 = "0123456789abcdef0123456789abcdef";

std::string Entry(const std::string& name, const std::string& size = "3")
{
    return "<file filename=\"" + name + "\" filesize=\"" + size + "\" fileversion=\"1\" md5=\"" + kMd5 + "\"/>";
}

enum class Kept { kAs, kPassedOver, kEndsTheList };

struct Row {
    std::string entry;
    Kept kept;
    std::string what;  // kAs: the name it is kept under; kEndsTheList: the player's sentence
};

const std::string kUnusable = "无法使用，已停止更新。";
const std::string kNotAWindowsName = "无法使用（名称在 Windows 上不能用作文件名），已停止更新。";

const Row kRows[] = {
    // Sizes: a whole number of bytes below 4 GiB, blanks before it allowed.
    {Entry("b", "4294967295"), Kept::kAs, "b"},
    {Entry("b", " 7"), Kept::kAs, "b"},
    {Entry("b", "4294967296"), Kept::kEndsTheList, "更新清单中的 b " + kUnusable},
    {Entry("b", "-1"), Kept::kEndsTheList, "更新清单中的 b " + kUnusable},
    {Entry("b", "12x"), Kept::kEndsTheList, "更新清单中的 b " + kUnusable},
    {Entry("b", "0x10"), Kept::kEndsTheList, "更新清单中的 b " + kUnusable},
    {Entry("b", ""), Kept::kEndsTheList, "更新清单中的 b " + kUnusable},
    // Every attribute is needed; an entry without a name is named by its number.
    {"<file filesize='3' fileversion='1' md5='" + kMd5 + "'/>", Kept::kEndsTheList, "更新清单中的 第 2 项 " + kUnusable},
    {"<file filename='b' fileversion='1' md5='" + kMd5 + "'/>", Kept::kEndsTheList, "更新清单中的 b " + kUnusable},
    {"<file filename='b' filesize='3' fileversion='1'/>", Kept::kEndsTheList, "更新清单中的 b " + kUnusable},
    // Names stay inside the installation.
    {Entry("..\\evil.dat"), Kept::kEndsTheList, "更新清单中的 ..\\evil.dat " + kUnusable},
    {Entry("data/../../evil.dat"), Kept::kEndsTheList, "更新清单中的 data/../../evil.dat " + kUnusable},
    {Entry("C:\\evil.dat"), Kept::kEndsTheList, "更新清单中的 C:\\evil.dat " + kUnusable},
    {Entry("c:evil.dat"), Kept::kEndsTheList, "更新清单中的 c:evil.dat " + kUnusable},
    {Entry("..data\\x"), Kept::kAs, "..data\\x"},
    {Entry("a..b\\c"), Kept::kAs, "a..b\\c"},
    {Entry("地图 文件.dat"), Kept::kAs, "地图 文件.dat"},
    // Leading separators name the same file; the dots and blanks that end a part are dropped, as
    // Windows drops them; a part of nothing but those is no name.
    {Entry("\\/data\\new.dat"), Kept::kAs, "data\\new.dat"},
    {Entry("readme."), Kept::kAs, "readme"},
    {Entry("a\\...\\b"), Kept::kEndsTheList, "更新清单中的 a\\...\\b " + kNotAWindowsName},
    // Names Windows cannot hold.
    {Entry("data\\CON"), Kept::kEndsTheList, "更新清单中的 data\\CON " + kNotAWindowsName},
    {Entry("data\\a:b.dat"), Kept::kEndsTheList, "更新清单中的 data\\a:b.dat " + kNotAWindowsName},
    // The registry's entry is no file of the installation.
    {Entry("Reg.Local"), Kept::kPassedOver, ""},
};

TEST(ManifestEntryRulesTest, EachEntryIsKeptPassedOverOrEndsTheListWithItsName)
{
    for (const Row& row : kRows) {
        const ManifestListing listing =
            ReadManifest("<manifest><filelist>" + Entry("fine.dat") + row.entry + Entry("after.dat") + "</filelist></manifest>");
        ASSERT_TRUE(listing.bIsManifest) << row.entry;
        std::vector<std::string> names;
        for (const ManifestEntry& entry : listing.entries)
            names.push_back(entry.strName);
        switch (row.kept) {
        case Kept::kAs:
            EXPECT_EQ(names, (std::vector<std::string>{"fine.dat", row.what, "after.dat"})) << row.entry;
            EXPECT_FALSE(listing.rejection) << row.entry;
            break;
        case Kept::kPassedOver:
            EXPECT_EQ(names, (std::vector<std::string>{"fine.dat", "after.dat"})) << row.entry;
            EXPECT_FALSE(listing.rejection) << row.entry;
            break;
        case Kept::kEndsTheList:
            EXPECT_EQ(names, std::vector<std::string>{"fine.dat"}) << row.entry;
            ASSERT_TRUE(listing.rejection) << row.entry;
            EXPECT_EQ(listing.rejection->strSentence, row.what) << row.entry;
            EXPECT_NE(listing.rejection->strCause.find("entry 2"), std::string::npos) << listing.rejection->strCause;
            break;
        }
    }
}

}  // namespace
