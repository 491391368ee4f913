// Packages that arrive damaged or that lie: Zip64 records whose sizes or offsets are wrong, a
// central directory that promises more than it holds, local headers that disagree with it, data
// that end early or fail late. Each fails the entry with the code the log words, leaves the file
// that was installed as it was, and leaves no temporary file behind.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "archive/PackageCheck.h"
#include "archive/PackageDirectory.h"
#include "archive/UnzipPackage.h"
#include "archive/ZipReader.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"
#include "tests/support/UnpackableEntry.h"
#include "tests/support/ZipBuilder.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kPython = "/usr/bin/python3";

void Put(std::string& bytes, std::size_t at, std::uint64_t value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint64_t Get(const std::string& bytes, std::size_t at, int size)
{
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

// Where the n-th record with this signature begins.
std::size_t Find(const std::string& bytes, const char* signature, int n = 0)
{
    std::size_t at = bytes.find(signature);
    for (; n > 0 && at != std::string::npos; --n)
        at = bytes.find(signature, at + 1);
    if (at == std::string::npos)
        throw std::runtime_error(std::string("no such record in the archive"));
    return at;
}

constexpr const char* kCentral = "PK\x01\x02";
constexpr const char* kLocal = "PK\x03\x04";

// The data of the Zip64 record in the n-th central header's extra field.
std::size_t Zip64Record(const std::string& bytes, int n)
{
    const std::size_t header = Find(bytes, kCentral, n);
    std::size_t at = header + 46 + Get(bytes, header + 28, 2);
    const std::size_t end = at + Get(bytes, header + 30, 2);
    for (; at + 4 <= end; at += 4 + Get(bytes, at + 2, 2))
        if (Get(bytes, at, 2) == 1)
            return at + 4;
    throw std::runtime_error("no Zip64 record");
}

void Save(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::set<std::string> Names(const fs::path& directory)
{
    std::set<std::string> names;
    for (const auto& item : fs::directory_iterator(directory))
        names.insert(item.path().filename().string());
    return names;
}

class DamagedArchiveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* tool : {"zip", kPython})
            if (RunTool(dir.Path(), "sh", {"-c", std::string("command -v ") + tool}).status != 0)
                GTEST_SKIP() << tool << " is not installed";
    }

    std::string Path(const std::string& name) const { return (dir.Path() / name).string(); }

    // An archive as Python's zipfile writes entries of 4 GiB and more: Zip64 records for both
    // sizes, and for the local header's offset past the first entry. a.txt is deflated, b.txt stored.
    std::string Zip64Package()
    {
        const std::string command = std::string(kPython) +
                                    " -c 'import zipfile\nzipfile.ZIP64_LIMIT = 0\n"
                                    "with zipfile.ZipFile(\"p.zip\", \"w\", zipfile.ZIP_DEFLATED) as z:\n"
                                    " z.writestr(\"a.txt\", \"hello \" * 40)\n"
                                    " z.writestr(\"b.txt\", \"\".join(str(i) + \"\\n\" for i in range(3000)),"
                                    " compress_type=zipfile.ZIP_STORED)'";
        const ToolRun run = RunTool(dir.Path(), "sh", {"-c", command});
        if (run.status != 0)
            throw std::runtime_error(run.output);
        return ReadWholeFile(dir.Path() / "p.zip");
    }

    static std::string Hello()
    {
        std::string text;
        for (int i = 0; i < 40; ++i)
            text += "hello ";
        return text;
    }

    static std::string Stored()
    {
        std::string text;
        for (int i = 0; i < 3000; ++i)
            text += std::to_string(i) + "\n";
        return text;
    }

    TempDir dir;
    TempDir dest;
};

TEST_F(DamagedArchiveTest, Zip64RecordsThatLieFailTheEntryAndKeepWhatWasInstalled)
{
    const std::string good = Zip64Package();
    const std::size_t aRecord = Zip64Record(good, 0), bRecord = Zip64Record(good, 1);
    const std::size_t aData = 30 + Get(good, 26, 2) + Get(good, 28, 2);  // a.txt's local header is first
    const std::size_t bLocal = Find(good, kLocal, 1);
    const std::size_t bData = bLocal + 30 + Get(good, bLocal + 26, 2) + Get(good, bLocal + 28, 2);
    struct Case {
        const char* damage;
        int entry;
        std::function<void(std::string&)> apply;
        ZipResult described;  // GetEntry's result
        ZipResult extracted;  // ExtractEntry's result
    } cases[] = {
        {"a record too short for the sizes it stands for", 0, [&](std::string& b) { Put(b, aRecord - 2, 8, 2); },
         ZipResult::Corrupt, ZipResult::Corrupt},
        {"an uncompressed size smaller than the data", 0, [&](std::string& b) { Put(b, aRecord, 100, 8); }, ZipResult::Ok,
         ZipResult::Flate},
        {"a compressed size that ends inside the deflate stream", 0,
         [&](std::string& b) { Put(b, aRecord + 8, Get(b, aRecord + 8, 8) / 2, 8); }, ZipResult::Ok, ZipResult::Flate},
        {"deflated data past the archive's end", 0, [&](std::string& b) { Put(b, aRecord + 8, 1 << 20, 8); }, ZipResult::Ok,
         ZipResult::Flate},
        {"deflated data that are no deflate stream", 0,
         [&](std::string& b) { b.replace(aData, 4, "\xFF\xFF\xFF\xFF"); }, ZipResult::Ok, ZipResult::Flate},
        {"stored data past the archive's end", 1,
         [&](std::string& b) { Put(b, bRecord, 1 << 20, 8), Put(b, bRecord + 8, 1 << 20, 8); }, ZipResult::Ok, ZipResult::Flate},
        {"stored data whose last byte changed, found by the CRC-32 at the end", 1,
         [&](std::string& b) { b[bData + Stored().size() - 2] ^= 1; }, ZipResult::Ok, ZipResult::Flate},
        {"a local header offset that points past the header", 1, [&](std::string& b) { Put(b, bRecord + 16, bLocal + 1, 8); },
         ZipResult::Corrupt, ZipResult::Corrupt},
        {"a local extra field that runs past the archive's end", 1, [&](std::string& b) { Put(b, bLocal + 28, 0xFFFF, 2); },
         ZipResult::Corrupt, ZipResult::Corrupt},
    };
    for (const Case& c : cases) {
        std::string bytes = good;
        c.apply(bytes);
        Save(Path("p.zip"), bytes);
        const std::string name = c.entry == 0 ? "a.txt" : "b.txt";
        fs::remove_all(dest.Path());
        fs::create_directories(dest.Path());
        std::ofstream(dest.Path() / name) << "installed before";

        std::unique_ptr<CZipReader> reader = CZipReader::Open(Path("p.zip"));
        ASSERT_TRUE(reader) << c.damage;
        tagZipEntry entry;
        EXPECT_EQ(reader->GetEntry(c.entry, entry), c.described) << c.damage;
        const ZipResult result = reader->ExtractEntry(c.entry, (dest.Path() / name).string());
        EXPECT_EQ(result, c.extracted) << c.damage;
        EXPECT_STREQ(ZipResultText(result), c.extracted == ZipResult::Corrupt
                                                ? "its local header does not match the central directory"
                                                : "its data are damaged or fail their CRC-32")
            << c.damage;
        EXPECT_EQ(ReadWholeFile(dest.Path() / name), "installed before") << c.damage;
        EXPECT_EQ(Names(dest.Path()), std::set<std::string>{name}) << c.damage;  // no temporary left
        // The entry the damage is not in still unpacks whole.
        const int other = 1 - c.entry;
        EXPECT_EQ(reader->ExtractEntry(other, (dest.Path() / "other").string()), ZipResult::Ok) << c.damage;
        EXPECT_EQ(ReadWholeFile(dest.Path() / "other"), other == 0 ? Hello() : Stored()) << c.damage;
    }
}

TEST_F(DamagedArchiveTest, TheHeadOfAZip64EntryIsReadWithoutTheRest)
{
    // The installer reads the first bytes of every entry to tell executables; a large entry is
    // not read to its end for that.
    Save(Path("p.zip"), Zip64Package());
    std::unique_ptr<CZipReader> reader = CZipReader::Open(Path("p.zip"));
    ASSERT_TRUE(reader);
    for (int entry : {0, 1}) {
        std::string head;
        EXPECT_EQ(reader->ReadEntryData(entry, head, 10), ZipResult::Ok) << entry;
        EXPECT_EQ(head, entry == 0 ? "hello hell" : Stored().substr(0, 10)) << entry;
    }
    std::string whole;
    EXPECT_EQ(reader->ReadEntryData(1, whole, 1 << 20), ZipResult::Ok);
    EXPECT_EQ(whole, Stored());
    EXPECT_EQ(reader->ReadEntryData(2, whole, 10), ZipResult::Args);
    EXPECT_TRUE(whole.empty());
}

TEST_F(DamagedArchiveTest, AZip64SizeThatCannotBeReadCountsAsTheLargestTheHeaderClaims)
{
    // The disk check before a download asks for too much rather than too little.
    std::string bytes = Zip64Package();
    Put(bytes, Zip64Record(bytes, 0) - 2, 4, 2);
    EXPECT_EQ(UnpackedSizeFromTail(bytes, bytes.size()), 0xFFFFFFFFull + Stored().size());
    // A tail longer than the archive it is said to end is no archive's tail.
    EXPECT_FALSE(UnpackedSizeFromTail(bytes, bytes.size() - 1));
}

// A package of three small files, written by Info-ZIP's zip.
class CentralDirectoryTest : public DamagedArchiveTest {
protected:
    void SetUp() override
    {
        DamagedArchiveTest::SetUp();
        if (IsSkipped())
            return;
        dir.Write("files/one.txt", "first\n");
        dir.Write("files/two.txt", std::string(3000, '2'));
        dir.Write("files/three.txt", "third\n");
        const ToolRun run = RunTool(dir.Path() / "files", "zip", {"-q", "../p.zip", "one.txt", "two.txt", "three.txt"});
        ASSERT_EQ(run.status, 0) << run.output;
        good = ReadWholeFile(Path("p.zip"));
    }

    std::string good;
};

TEST_F(CentralDirectoryTest, ADirectoryThatPromisesMoreEntriesThanItHoldsFailsAtTheMissingOne)
{
    std::string bytes = good;
    const std::size_t end = Find(bytes, "PK\x05\x06");
    Put(bytes, end + 8, 4, 2), Put(bytes, end + 10, 4, 2);
    Save(Path("p.zip"), bytes);

    std::unique_ptr<CZipReader> reader = CZipReader::Open(Path("p.zip"));
    ASSERT_TRUE(reader);
    tagZipEntry entry;
    EXPECT_EQ(reader->GetEntry(-1, entry), ZipResult::Ok);
    EXPECT_EQ(entry.index, 4);
    EXPECT_EQ(reader->GetEntry(3, entry), ZipResult::Seek);
    EXPECT_EQ(reader->ExtractEntry(3, (dest.Path() / "four").string()), ZipResult::Seek);
    EXPECT_STREQ(ZipResultText(ZipResult::Seek), "its local header could not be read");
    EXPECT_TRUE(fs::is_empty(dest.Path()));
    // The entries that are there are still read, before and after the failure.
    for (int i : {2, 0, 1}) {
        EXPECT_EQ(reader->ExtractEntry(i, (dest.Path() / std::to_string(i)).string()), ZipResult::Ok) << i;
    }
    EXPECT_EQ(ReadWholeFile(dest.Path() / "1"), std::string(3000, '2'));
    EXPECT_EQ(ReadWholeFile(dest.Path() / "2"), "third\n");

    // The check before the installation names the entry that is missing, and no size is told.
    reader = CZipReader::Open(Path("p.zip"));
    std::optional<Failure> problem = FindUnpackableEntry(*reader);
    ASSERT_TRUE(problem);
    EXPECT_EQ(UnpackableEntry(*problem), "#4");
    EXPECT_FALSE(UnpackedSizeFromTail(bytes, bytes.size()));
}

TEST_F(CentralDirectoryTest, AnExtraFieldThatRunsPastTheArchivesEndFailsItsEntry)
{
    std::string bytes = good;
    Put(bytes, Find(bytes, kCentral, 2) + 30, 0xFFFF, 2);
    Save(Path("p.zip"), bytes);
    std::unique_ptr<CZipReader> reader = CZipReader::Open(Path("p.zip"));
    ASSERT_TRUE(reader);
    tagZipEntry entry;
    EXPECT_EQ(reader->GetEntry(0, entry), ZipResult::Ok);
    EXPECT_NE(reader->GetEntry(2, entry), ZipResult::Ok);
    std::optional<Failure> problem = FindUnpackableEntry(*reader);
    ASSERT_TRUE(problem);
    EXPECT_EQ(UnpackableEntry(*problem), "#3");
    EXPECT_FALSE(UnpackedSizeFromTail(bytes, bytes.size()));
    EXPECT_EQ(UnpackedSizeFromTail(good, good.size()), 6u + 3000u + 6u);
}

TEST_F(CentralDirectoryTest, ALocalHeaderThatDisagreesWithTheDirectoryIsNeverUnpacked)
{
    const std::size_t local = Find(good, kLocal, 1);  // two.txt, deflated
    struct Case {
        const char* damage;
        std::function<void(std::string&)> apply;
        ZipResult result;
    } cases[] = {
        {"another method", [&](std::string& b) { Put(b, local + 8, 0, 2); }, ZipResult::Corrupt},
        {"no local header signature", [&](std::string& b) { b[local + 3] = 9; }, ZipResult::Corrupt},
        {"a local extra field past the archive's end", [&](std::string& b) { Put(b, local + 28, 0xFFFF, 2); }, ZipResult::Seek},
    };
    for (const Case& c : cases) {
        std::string bytes = good;
        c.apply(bytes);
        Save(Path("p.zip"), bytes);
        fs::remove_all(dest.Path());
        fs::create_directories(dest.Path());
        std::ofstream(dest.Path() / "two.txt") << "installed before";
        std::unique_ptr<CZipReader> reader = CZipReader::Open(Path("p.zip"));
        ASSERT_TRUE(reader) << c.damage;
        tagZipEntry entry;
        EXPECT_EQ(reader->GetEntry(1, entry), c.result) << c.damage;
        EXPECT_EQ(reader->ExtractEntry(1, (dest.Path() / "two.txt").string()), c.result) << c.damage;
        std::string data = "left over";
        EXPECT_EQ(reader->ReadEntryData(1, data, 100), c.result) << c.damage;
        EXPECT_TRUE(data.empty()) << c.damage;
        EXPECT_EQ(ReadWholeFile(dest.Path() / "two.txt"), "installed before") << c.damage;
        EXPECT_EQ(Names(dest.Path()), std::set<std::string>{"two.txt"}) << c.damage;
        std::optional<Failure> problem = FindUnpackableEntry(*reader);
        ASSERT_TRUE(problem) << c.damage;
        EXPECT_EQ(UnpackableEntry(*problem), "#2") << c.damage;
    }
}

TEST_F(CentralDirectoryTest, DataThatRunPastTheArchivesEndFailTheEntry)
{
    // Both headers say two.txt's compressed data are a megabyte: the read reaches the end of the
    // file first.
    std::string bytes = good;
    Put(bytes, Find(bytes, kLocal, 1) + 18, 1 << 20, 4);
    Put(bytes, Find(bytes, kCentral, 1) + 20, 1 << 20, 4);
    Save(Path("p.zip"), bytes);
    std::unique_ptr<CZipReader> reader = CZipReader::Open(Path("p.zip"));
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->ExtractEntry(1, (dest.Path() / "two.txt").string()), ZipResult::Flate);
    EXPECT_TRUE(fs::is_empty(dest.Path()));
    ASSERT_TRUE(FindUnpackableEntry(*reader));
    EXPECT_EQ(UnpackableEntry(*FindUnpackableEntry(*reader)), "two.txt");
}

TEST_F(CentralDirectoryTest, AnArchiveThatClaimsMoreEntriesThanCanBeCountedIsNotOpened)
{
    // Python writes a Zip64 end record when asked to; its counts are 64 bits wide.
    const std::string command = std::string(kPython) +
                                " -c 'import zipfile\nzipfile.ZIP64_LIMIT = 0\n"
                                "with zipfile.ZipFile(\"big.zip\", \"w\") as z:\n z.writestr(\"a.txt\", \"a\")'";
    ASSERT_EQ(RunTool(dir.Path(), "sh", {"-c", command}).status, 0);
    std::string bytes = ReadWholeFile(dir.Path() / "big.zip");
    const std::size_t end64 = Find(bytes, "PK\x06\x06");
    ASSERT_TRUE(CZipReader::Open(Path("big.zip")));
    Put(bytes, end64 + 24, 0x80000000u, 8), Put(bytes, end64 + 32, 0x80000000u, 8);
    Save(Path("big.zip"), bytes);
    EXPECT_FALSE(CZipReader::Open(Path("big.zip")));
}

TEST_F(CentralDirectoryTest, WhatIsNoRegularFileIsNoArchive)
{
    EXPECT_FALSE(CZipReader::Open(dir.Path().string()));
#ifndef _WIN32  // Windows' file systems hold no pipes
    // A pipe planted at the name never makes the reader wait for a writer.
    ASSERT_EQ(::mkfifo(Path("pipe.zip").c_str(), 0600), 0);
    EXPECT_FALSE(CZipReader::Open(Path("pipe.zip")));
#endif
}

TEST_F(CentralDirectoryTest, AClosedReaderAnswersThatNothingIsThere)
{
    std::unique_ptr<CZipReader> reader = CZipReader::Open(Path("p.zip"));
    ASSERT_TRUE(reader);
    reader->Close();
    reader->Close();
    tagZipEntry entry;
    EXPECT_EQ(reader->GetEntry(0, entry), ZipResult::Args);
    EXPECT_EQ(reader->ExtractEntry(0, (dest.Path() / "one.txt").string()), ZipResult::Args);
    EXPECT_STREQ(ZipResultText(ZipResult::Args), "it is not in the archive");
    EXPECT_TRUE(fs::is_empty(dest.Path()));
}

TEST_F(CentralDirectoryTest, EntriesThatCannotBeDecodedGiveNoData)
{
    // The installer reads the head of every entry: an encrypted one or one of another method
    // gives nothing, and says why.
    dir.Write("secret.txt", "secret");
    ASSERT_EQ(RunTool(dir.Path(), "zip", {"-q", "-P", "pw", "enc.zip", "secret.txt"}).status, 0);
    std::unique_ptr<CZipReader> reader = CZipReader::Open(Path("enc.zip"));
    ASSERT_TRUE(reader);
    std::string data = "left over";
    EXPECT_EQ(reader->ReadEntryData(0, data, 100), ZipResult::Password);
    EXPECT_TRUE(data.empty());
    EXPECT_STREQ(ZipResultText(ZipResult::Password), "it is encrypted");

    std::string bytes = good;  // one.txt is stored: with method 12 its bytes would pass for bzip2's
    for (const char* signature : {kLocal, kCentral}) {
        const std::size_t at = Find(bytes, signature) + (signature == kLocal ? 8 : 10);
        Put(bytes, at, 12, 2);
    }
    Save(Path("p.zip"), bytes);
    reader = CZipReader::Open(Path("p.zip"));
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->ReadEntryData(0, data, 100), ZipResult::Flate);
    EXPECT_TRUE(data.empty());
}

}  // namespace
