// Names a manifest lists that Windows holds as one file: two spellings of one file (letter case,
// the dots and blanks Windows drops) are one entry when they describe the same file, and end the
// list when they do not; a name with such dots and blanks is read as Windows stores it.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "manifest/ManifestReader.h"
#include "platform/Log.h"
#include "tests/support/TempDir.h"

namespace {

const std::string kMd5 = "900150983cd24fb0d6963f7d28e17f72";  // of "abc"
const std::string kOtherMd5 = "e2fc714c4727ee9395f324cd2e7f331f";  // of "abcd"
const std::string kSha256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::string kOtherSha256 = "88d4266fd4e6338d13b845fcf289579d209c897823b9217da3e161936f031589";

std::string Entry(const std::string& name, const std::string& size = "3", const std::string& md5 = kMd5,
                  const std::string& sha256 = "")
{
    return "<file filename=\"" + name + "\" filesize=\"" + size + "\" fileversion=\"1.0\" md5=\"" + md5 + "\"" +
           (sha256.empty() ? "" : " sha256=\"" + sha256 + "\"") + "/>";
}

ManifestListing Read(const std::string& entries)
{
    return ReadManifest("<manifest><filelist>" + entries + "</filelist></manifest>");
}

std::vector<std::string> Names(const ManifestListing& listing)
{
    std::vector<std::string> names;
    for (const ManifestEntry& entry : listing.entries)
        names.push_back(entry.strName);
    return names;
}

TEST(ManifestSpellingsTest, TwoSpellingsOfTheSameFileAreOneEntry)
{
    struct Case {
        std::string entries;
        std::vector<std::string> names;
    } cases[] = {
        {Entry("Data\\a.txt") + Entry("data\\a.txt") + Entry("b.txt"), {"Data\\a.txt", "b.txt"}},
        {Entry("Data\\a.txt") + Entry("DATA/A.TXT") + Entry("data\\a.txt"), {"Data\\a.txt"}},
        {Entry("a.txt", "3", kMd5, kSha256) + Entry("A.txt", "3", kMd5, kSha256), {"a.txt"}},
        {Entry("a.txt", "3", kMd5) + Entry("A.txt", "3", kMd5, kSha256), {"a.txt"}},  // one gives no SHA-256
        {Entry("a.txt", "3", kMd5) + Entry("A.txt", " 3 ", " 900150983CD24FB0D6963F7D28E17F72 "), {"a.txt"}},
        {Entry("readme.") + Entry("b.txt"), {"readme", "b.txt"}},
        {Entry("readme") + Entry("Readme . "), {"readme"}},
        {Entry("maps\\old .\\town.dat") + Entry("dir.\\a.txt"), {"maps\\old\\town.dat", "dir\\a.txt"}},
        {Entry("\\readme.") + Entry("/readme"), {"readme"}},
    };
    for (const Case& c : cases) {
        const ManifestListing listing = Read(c.entries);
        EXPECT_FALSE(listing.rejection) << c.entries << "\n" << listing.rejection->strCause;
        EXPECT_EQ(Names(listing), c.names) << c.entries;
    }
}

// Installed as Windows stores it, asked for under the name the server holds it by.
TEST(ManifestSpellingsTest, ANameIsInstalledAsWindowsStoresItAndFetchedAsListed)
{
    const ManifestListing listing = Read(Entry("\\maps\\old .\\readme."));
    ASSERT_EQ(listing.entries.size(), 1u);
    EXPECT_EQ(listing.entries[0].strName, "maps\\old\\readme");
    EXPECT_EQ(listing.entries[0].strListedName, "maps\\old .\\readme.");
}

TEST(ManifestSpellingsTest, TwoSpellingsOfOneFileThatDifferEndTheList)
{
    const std::string caseAlone = "its name differs from Data\\a.txt's in letter case alone: one file on Windows";
    const std::string dotted = "its name and readme's are one file on Windows, which drops the dots and blanks a "
                               "name's parts end in";
    struct Case {
        std::string entries;
        std::string entry, cause, reason;
    } cases[] = {
        {Entry("Data\\a.txt") + Entry("data\\a.txt", "4"), "data\\a.txt", caseAlone,
         "与 Data\\a.txt 只有大小写不同，在 Windows 上是同一个文件"},
        {Entry("Data\\a.txt") + Entry("data\\a.txt", "3", kOtherMd5), "data\\a.txt", caseAlone,
         "与 Data\\a.txt 只有大小写不同，在 Windows 上是同一个文件"},
        {Entry("Data\\a.txt", "3", kMd5, kSha256) + Entry("data\\a.txt", "3", kMd5, kOtherSha256), "data\\a.txt",
         caseAlone, "与 Data\\a.txt 只有大小写不同，在 Windows 上是同一个文件"},
        {Entry("readme") + Entry("readme.", "4", kOtherMd5), "readme.", dotted, "与 readme 在 Windows 上是同一个文件"},
        {Entry("readme") + Entry("README ", "4", kOtherMd5), "README ", dotted, "与 readme 在 Windows 上是同一个文件"},
    };
    for (const Case& c : cases) {
        const ManifestListing listing = Read(Entry("first.txt") + c.entries + Entry("after.txt"));
        ASSERT_TRUE(listing.rejection) << c.entries;
        EXPECT_EQ(listing.rejection->strSentence, "更新清单中的 " + c.entry + " 无法使用（" + c.reason + "），已停止更新。");
        EXPECT_EQ(listing.rejection->strCause, "entry 3 (" + c.entry + ") cannot be used: " + c.cause);
        EXPECT_EQ(listing.entries.size(), 2u) << c.entries;
    }
}

TEST(ManifestSpellingsTest, TheSecondSpellingTakenAsTheSameFileIsNamedInTheLog)
{
    TempDir dir;
    ASSERT_TRUE(OpenLogFile((dir.Path() / "KesuUpdate.log").string(), 1 << 20));
    Read(Entry("Data\\a.txt") + Entry("data\\a.txt") + Entry("b.txt"));
    CloseLogFile();
    const std::string log = ReadWholeFile(dir.Path() / "KesuUpdate.log");
    EXPECT_NE(log.find("data\\a.txt is taken as the same file as Data\\a.txt"), std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
}

}  // namespace
