#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <zlib.h>

#include "archive/PackageCheck.h"
#include "archive/UnzipPackage.h"
#include "archive/ZipReader.h"
#include "platform/Path.h"
#include "sentences/Sentences.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"
#include "tests/support/UnpackableEntry.h"
#include "tests/support/ZipBuilder.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kEpochOffset = 11644473600ull;

std::uint64_t FileTime(std::int64_t unixSeconds)
{
    return static_cast<std::uint64_t>(unixSeconds + static_cast<std::int64_t>(kEpochOffset)) * 10000000ull;
}

#ifdef _WIN32
using StatResult = struct _stat64;
#else
using StatResult = struct stat;
#endif

StatResult Stat(const fs::path& path)
{
    StatResult st{};
#ifdef _WIN32
    EXPECT_EQ(::_wstat64(path.c_str(), &st), 0) << path;
#else
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
#endif
    return st;
}

bool IsReadOnly(const fs::path& path)
{
    return (fs::status(path).permissions() & fs::perms::owner_write) == fs::perms::none;
}

bool ToolIsInstalled(const fs::path& directory, const std::string& tool)
{
    return RunTool(directory, "sh", {"-c", "command -v " + tool}).status == 0;
}

// Every path under a directory, relative to it, sorted.
std::vector<std::string> Tree(const fs::path& root)
{
    std::vector<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        paths.push_back(GenericUtf8OfPath(fs::relative(entry.path(), root)));
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::string Deflated(const std::string& data)
{
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, data.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// Gives the only entry of an archive another compression method number, in its local header and
// in its central directory record.
void SetMethodOfOnlyEntry(const std::string& path, std::uint16_t method)
{
    std::string bytes = ReadWholeFile(path);
    for (auto [signature, offset] : {std::pair{"PK\x03\x04", 8}, std::pair{"PK\x01\x02", 10}}) {
        std::size_t at = bytes.find(signature) + offset;
        bytes[at] = static_cast<char>(method & 0xFF);
        bytes[at + 1] = static_cast<char>(method >> 8);
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Each test unpacks into root/dest with the current directory at root/cwd.
class UnzipTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(cwd);
        previous = fs::current_path();
        fs::current_path(cwd);
    }
    void TearDown() override { fs::current_path(previous); }

    ZipResult Unzip(const std::vector<ZipItem>& items)
    {
        WriteZip(zip, items);
        names.clear();
        return UnzipPackage(zip, dest.string(), names);
    }

    TempDir root;
    fs::path dest = root.Path() / "dest";
    fs::path cwd = root.Path() / "cwd";
    std::string zip = (root.Path() / "package.zip").string();
    std::vector<std::string> names;
    fs::path previous;
};

TEST_F(UnzipTest, StoredDeflatedDirectoryAndNestedEntries)
{
    std::string big(300000, 'z');
    for (std::size_t i = 0; i < big.size(); i += 7)
        big[i] = static_cast<char>(i);
    ZipItem stored{"stored.txt", "kept as it is"};
    stored.deflate = false;
    fs::create_directories(dest);
    std::ofstream(dest / "replace.txt") << "old contents";

    EXPECT_EQ(Unzip({stored, {"deflated.bin", big}, Directory("empty/"), {"a/b/c.txt", "nested"},
                     {"replace.txt", "new contents"}}),
              ZipResult::Ok);
    EXPECT_EQ(ReadWholeFile(dest / "stored.txt"), "kept as it is");
    EXPECT_EQ(ReadWholeFile(dest / "deflated.bin"), big);
    EXPECT_TRUE(fs::is_directory(dest / "empty"));
    EXPECT_EQ(ReadWholeFile(dest / "a/b/c.txt"), "nested");
    EXPECT_EQ(ReadWholeFile(dest / "replace.txt"), "new contents");
    EXPECT_EQ(names, (std::vector<std::string>{"stored.txt", "deflated.bin", "empty/", "a/b/c.txt", "replace.txt"}));
    EXPECT_EQ(Tree(dest), (std::vector<std::string>{"a", "a/b", "a/b/c.txt", "deflated.bin", "empty", "replace.txt",
                                                    "stored.txt"}));
}

TEST_F(UnzipTest, NamesAreCleanedAndNothingClimbsOutOfTheDestination)
{
    struct Case {
        const char* stored;
        const char* cleaned;
        const char* placed;  // under dest, or nullptr when refused
    } cases[] = {
        {"C:\\games\\x.txt", "games\\x.txt", "games/x.txt"},
        {"/etc/a", "etc/a", "etc/a"},
        {"\\\\server\\share.txt", "server\\share.txt", "server/share.txt"},
        {"c:/d:/twice.txt", "twice.txt", "twice.txt"},
        {"x/../inner.txt", "inner.txt", "inner.txt"},
        {"x\\..\\back.txt", "back.txt", "back.txt"},
        {"x\\../mixed1.txt", "mixed1.txt", "mixed1.txt"},
        {"x/..\\mixed2.txt", "mixed2.txt", "mixed2.txt"},
        {"data/../../b.dll", "../b.dll", nullptr},
        {"../up.txt", "../up.txt", nullptr},
        {"..\\up2.txt", "..\\up2.txt", nullptr},
        {"ok/..", "ok/..", nullptr},
        {"..", "..", nullptr},
    };
    for (const auto& c : cases) {
        names.clear();
        ZipResult result = Unzip({{c.stored, c.stored}});
        ASSERT_EQ(names.size(), 1u) << c.stored;
        EXPECT_EQ(names[0], c.cleaned) << c.stored;
        if (c.placed) {
            EXPECT_EQ(result, ZipResult::Ok) << c.stored;
            EXPECT_EQ(ReadWholeFile(dest / c.placed), c.stored);
        } else {
            EXPECT_EQ(result, ZipResult::NoFile) << c.stored;
        }
    }
    // Nothing but the destination, the current directory and the archive beside them.
    EXPECT_EQ(Tree(root.Path()).size(), Tree(dest).size() + 3);
    EXPECT_FALSE(fs::exists(root.Path() / "b.dll"));
    EXPECT_FALSE(fs::exists(root.Path() / "up.txt"));
}

// The installations are on Windows: a name it cannot hold, or two that it holds as one file,
// refuse the package before anything of it is written, on every system. A drive prefix or a
// leading separator is still dropped (above): what stays is a name inside the destination.
TEST_F(UnzipTest, NamesWindowsCannotHoldRefuseThePackageBeforeAnythingIsWritten)
{
    ZipItem link{"Maps", "real"};
    link.external = 0120777u << 16;
    const std::string device = "\"aux.txt\" is the name of a device on Windows";
    struct Case {
        std::vector<ZipItem> items;
        std::string entry, reason, cause;
    } cases[] = {
        {{{"a.txt", "a"}, {"data\\aux.txt", "x"}}, "data\\aux.txt", sentence::kNameNotForWindows,
         "its name cannot be a file's on Windows: " + device},
        {{{"\\\\?\\C:\\x.txt", "x"}}, "?\\C:\\x.txt", sentence::kNameNotForWindows,
         "its name cannot be a file's on Windows: \"?\" holds '?', which Windows does not allow in a name"},
        {{{"readme.txt:hidden", "x"}}, "readme.txt:hidden", sentence::kNameNotForWindows,
         "its name cannot be a file's on Windows: \"readme.txt:hidden\" holds a ':', which Windows reads as a drive or "
         "a stream of another file"},
        {{{"Data/Town.dat", "x"}, {"a.txt", "a"}, {"data/town.DAT", "y"}}, "data/town.DAT",
         sentence::DiffersOnlyInCaseFrom("Data/Town.dat"), "its name differs from Data/Town.dat's in letter case alone: one file on Windows"},
        {{link, Directory("real/"), {"maps/x.txt", "x"}}, "maps/x.txt", sentence::kEntryBelowLink,
         "it would be written through the link Maps"},
    };
    for (const Case& c : cases) {
        WriteZip(zip, c.items);
        std::unique_ptr<CZipReader> reader = CZipReader::Open(zip);
        ASSERT_TRUE(reader);
        const std::optional<Failure> problem = FindUnpackableEntry(*reader);
        ASSERT_TRUE(problem) << c.entry;
        EXPECT_EQ(UnpackableEntry(*problem), c.entry);
        EXPECT_EQ(problem->strSentence, sentence::CannotUnpack(c.entry, c.reason)) << c.entry;
        EXPECT_EQ(UnpackableCause(*problem), c.cause) << c.entry;
    }
    // The same zip entry twice is no conflict of letter case; and unpacking alone never writes a
    // name Windows cannot hold either.
    WriteZip(zip, {{"Town.dat", "1"}, {"Town.dat", "2"}});
    EXPECT_FALSE(FindUnpackableEntry(*CZipReader::Open(zip)));
    EXPECT_EQ(Unzip({{"con.txt", "x"}}), ZipResult::NoFile);
    EXPECT_TRUE(!fs::exists(dest) || fs::is_empty(dest));
}

TEST_F(UnzipTest, AttributesFollowTheHostSystem)
{
    ZipItem dosReadOnly{"dos-ro.txt", "r"};
    dosReadOnly.host = 0;
    dosReadOnly.external = 0x21;
    ZipItem dosNormal{"dos.txt", "w"};
    dosNormal.host = 0;
    dosNormal.external = 0x20;
    ZipItem unixExec{"run.sh", "#!/bin/sh\n"};
    unixExec.external = 0100755u << 16;
    ZipItem unixReadOnly{"unix-ro.txt", "r"};
    unixReadOnly.external = 0100444u << 16;
    ZipItem setuid{"setuid", "s"};
    setuid.external = 0104755u << 16;
    ZipItem windowsFolder{"maps\\", ""};  // a folder with no attribute, named with a backslash
    windowsFolder.host = 0;
    windowsFolder.external = 0;
    ASSERT_EQ(Unzip({dosReadOnly, dosNormal, unixExec, unixReadOnly, setuid, windowsFolder}), ZipResult::Ok);

    EXPECT_TRUE(IsReadOnly(dest / "dos-ro.txt"));
    EXPECT_FALSE(IsReadOnly(dest / "dos.txt"));
    EXPECT_FALSE(IsReadOnly(dest / "run.sh"));
    EXPECT_TRUE(IsReadOnly(dest / "unix-ro.txt"));
    EXPECT_TRUE(fs::is_directory(dest / "maps"));
#ifndef _WIN32  // Windows keeps no permission bits but whether a file is read-only
    mode_t umask = ::umask(022);
    ::umask(umask);
    EXPECT_EQ(Stat(dest / "dos-ro.txt").st_mode & 07777, 0444u & ~umask);
    EXPECT_EQ(Stat(dest / "dos.txt").st_mode & 07777, 0666u & ~umask);
    EXPECT_EQ(Stat(dest / "run.sh").st_mode & 07777, 0755u);
    EXPECT_EQ(Stat(dest / "unix-ro.txt").st_mode & 07777, 0444u);
    EXPECT_EQ(Stat(dest / "setuid").st_mode & 07777, 0755u);  // never set-user-id
#endif

    auto reader = CZipReader::Open(zip);
    ASSERT_NE(reader, nullptr);
    tagZipEntry entry;
    ASSERT_EQ(reader->GetEntry(0, entry), ZipResult::Ok);
    EXPECT_EQ(entry.attr, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    ASSERT_EQ(reader->GetEntry(2, entry), ZipResult::Ok);
    EXPECT_EQ(entry.attr, FILE_ATTRIBUTE_ARCHIVE);
    ASSERT_EQ(reader->GetEntry(3, entry), ZipResult::Ok);
    EXPECT_EQ(entry.attr, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(UnzipTest, TimesComeFromTheExtendedTimestampOrElseTheLocalDosTime)
{
    const std::int32_t m = 1600000000, a = 1600000100, c = 1600000200;
    std::vector<ZipItem> items;
    for (unsigned flags = 0; flags < 8; ++flags) {
        ZipItem item{"ut" + std::to_string(flags), "x"};
        item.localExtra = std::string("\x0a\x00\x04\x00" "abcd", 8) + ExtendedTimestamp(flags, m, a, c);
        items.push_back(item);
    }
    items.push_back({"dos-only", "x"});
    ASSERT_EQ(Unzip(items), ZipResult::Ok);

    std::tm local{};
    local.tm_year = 125, local.tm_mon = 3, local.tm_mday = 11, local.tm_hour = 12, local.tm_isdst = -1;
    const std::time_t dos = std::mktime(&local);
    auto reader = CZipReader::Open(zip);
    for (unsigned flags = 0; flags < 8; ++flags) {
        tagZipEntry entry;
        ASSERT_EQ(reader->GetEntry(static_cast<int>(flags), entry), ZipResult::Ok);
        EXPECT_EQ(entry.mtime, FileTime(flags & 1 ? m : dos)) << flags;
        EXPECT_EQ(entry.atime, FileTime(flags & 2 ? a : dos)) << flags;
        EXPECT_EQ(entry.ctime, FileTime(flags & 4 ? c : dos)) << flags;
        StatResult st = Stat(dest / ("ut" + std::to_string(flags)));
        EXPECT_EQ(st.st_mtime, flags & 1 ? m : dos) << flags;
        EXPECT_EQ(st.st_atime, flags & 2 ? a : dos) << flags;
    }
    EXPECT_EQ(Stat(dest / "dos-only").st_mtime, dos);
}

TEST_F(UnzipTest, ADosTimeWrittenFromALocalTimeReadsBackAsThatTimeFrom1980On)
{
    std::tm local{};
    local.tm_year = 80, local.tm_mon = 0, local.tm_mday = 1, local.tm_isdst = -1;
    const std::time_t start1980 = std::mktime(&local);
    // DOS time counts seconds in twos; a time before 1980 is written as 1980 begins.
    const std::vector<std::pair<std::time_t, std::time_t>> written{
        {start1980, start1980}, {1600000000, 1600000000}, {1600000001, 1600000000}, {4102444798, 4102444798},
        {0, start1980}, {start1980 - 1, start1980}};
    std::vector<ZipItem> items;
    for (const auto& [time, unused] : written) {
        ZipItem item{"t" + std::to_string(items.size()), "x"};
        item.dosDate = DosDateTime(time);
        items.push_back(item);
    }
    ASSERT_EQ(Unzip(items), ZipResult::Ok);
    auto reader = CZipReader::Open(zip);
    for (std::size_t i = 0; i < written.size(); ++i) {
        tagZipEntry entry;
        ASSERT_EQ(reader->GetEntry(static_cast<int>(i), entry), ZipResult::Ok);
        EXPECT_EQ(entry.mtime, FileTime(written[i].second)) << written[i].first;
    }
}

TEST_F(UnzipTest, DamagedEntriesFailAndNeverReplaceWhatWasThere)
{
    const std::string good = "the intended contents of the file";
    ZipItem badCrc{"crc.txt", good};
    badCrc.raw = true, badCrc.deflate = false, badCrc.rawCrc = Crc32(good) ^ 1, badCrc.rawUncompressedSize = good.size();
    ZipItem badDeflate{"deflate.txt", "\xFF\xFF\xFF\xFF garbage that is no deflate stream"};
    badDeflate.raw = true, badDeflate.rawCrc = Crc32(good), badDeflate.rawUncompressedSize = good.size();
    ZipItem lyingSize{"size.txt", good};
    lyingSize.raw = true, lyingSize.deflate = false, lyingSize.rawCrc = Crc32(good);
    lyingSize.rawUncompressedSize = good.size() * 2;
    std::string truncatedStream = Deflated(std::string(100000, 'q')).substr(0, 50);
    ZipItem truncated{"truncated.txt", truncatedStream};
    truncated.raw = true, truncated.rawCrc = Crc32(std::string(100000, 'q')), truncated.rawUncompressedSize = 100000;

    ZipItem impossibleRatio{"ratio.txt", Deflated("tiny")};
    impossibleRatio.raw = true, impossibleRatio.rawCrc = Crc32("tiny"), impossibleRatio.rawUncompressedSize = 1 << 30;

    // The stored sizes that disagree and the impossible packing are found before anything is written.
    for (const ZipItem& item : {lyingSize, impossibleRatio}) {
        WriteZip(zip, {item});
        std::unique_ptr<CZipReader> reader = CZipReader::Open(zip);
        ASSERT_TRUE(reader);
        std::optional<Failure> problem = FindUnpackableEntry(*reader);
        ASSERT_TRUE(problem) << item.name;
        EXPECT_EQ(UnpackableEntry(*problem), item.name);
    }
    for (const ZipItem& item : {badCrc, badDeflate, lyingSize, truncated, impossibleRatio}) {
        fs::create_directories(dest);
        std::ofstream(dest / item.name) << "installed before";
        EXPECT_EQ(Unzip({item}), ZipResult::Flate) << item.name;
        EXPECT_EQ(ReadWholeFile(dest / item.name), "installed before") << item.name;
        EXPECT_EQ(Tree(dest), std::vector<std::string>{item.name}) << item.name;  // no part file left
        fs::remove_all(dest);
    }
}

TEST_F(UnzipTest, EntriesOfOtherMethodsAreDescribedButNeverWritten)
{
    // 7-Zip packs the file with the method asked for; minizip reads only stored and deflated data.
    if (!ToolIsInstalled(root.Path(), "7z"))
        GTEST_SKIP() << "7-Zip is not installed";
    const std::string name = "maps/town.map";
    const std::time_t modified = 1700000000;  // an even second, which a DOS time holds exactly
    fs::create_directories(root.Path() / "packed/maps");
    std::ofstream(root.Path() / "packed" / name) << std::string(5000, 't');
    // Set by the system's tools, which give the file permission bits on Windows' side too.
    ASSERT_EQ(RunTool(root.Path() / "packed", "sh",
                      {"-c", "chmod 0640 " + name + " && touch -d @" + std::to_string(modified) + " " + name})
                  .status,
              0);

    for (const char* method : {"Deflate64", "LZMA", "BZip2"}) {
        const std::string package = (root.Path() / (std::string(method) + ".zip")).string();
        const ToolRun run = RunTool(root.Path() / "packed", "7z", {"a", "-bd", "-tzip", std::string("-mm=") + method, package, name});
        ASSERT_EQ(run.status, 0) << method << "\n" << run.output;

        auto reader = CZipReader::Open(package);
        ASSERT_NE(reader, nullptr) << method;
        tagZipEntry entry;
        ASSERT_EQ(reader->GetEntry(0, entry), ZipResult::Ok) << method;
        EXPECT_EQ(entry.name, name) << method;
        EXPECT_EQ(entry.attr, FILE_ATTRIBUTE_ARCHIVE) << method;
        EXPECT_EQ(entry.unix_mode, 0640u) << method;
        EXPECT_EQ(entry.mtime, FileTime(modified)) << method;
        EXPECT_EQ(entry.unc_size, 5000u) << method;

        fs::create_directories(dest / "maps");
        std::ofstream(dest / name) << "installed before";
        names.clear();
        EXPECT_EQ(UnzipPackage(package, dest.string(), names), ZipResult::Flate) << method;
        EXPECT_EQ(names, std::vector<std::string>{name}) << method;
        EXPECT_EQ(ReadWholeFile(dest / name), "installed before") << method;
        EXPECT_EQ(Tree(dest), (std::vector<std::string>{"maps", name})) << method;  // no part file left
    }

    // minizip hands over bzip2 data as they are: when their size is the entry's size, nothing
    // else would tell that they were never decompressed.
    ZipItem undecoded{"same-size.txt", "ten bytes!"};
    undecoded.raw = true, undecoded.deflate = false;
    undecoded.rawCrc = Crc32(undecoded.data), undecoded.rawUncompressedSize = undecoded.data.size();
    WriteZip(zip, {undecoded});
    SetMethodOfOnlyEntry(zip, 12);
    std::ofstream(dest / undecoded.name) << "installed before";
    names.clear();
    EXPECT_EQ(UnzipPackage(zip, dest.string(), names), ZipResult::Flate);
    EXPECT_EQ(ReadWholeFile(dest / undecoded.name), "installed before");
}

TEST_F(UnzipTest, AfterAFailureTheNextEntryFollowsOnlyWhenTheNameExistsInTheCurrentDirectory)
{
    ZipItem bad{"bad.txt", "x"};
    bad.raw = true, bad.deflate = false, bad.rawCrc = 0, bad.rawUncompressedSize = 1;
    EXPECT_EQ(Unzip({{"first.txt", "1"}, bad, {"after.txt", "2"}}), ZipResult::Flate);
    EXPECT_EQ(names, (std::vector<std::string>{"first.txt", "bad.txt"}));
    EXPECT_FALSE(fs::exists(dest / "after.txt"));

    std::ofstream(cwd / "bad.txt") << "present";
    EXPECT_EQ(Unzip({{"first.txt", "1"}, bad, {"after.txt", "2"}}), ZipResult::Ok);
    EXPECT_EQ(names, (std::vector<std::string>{"first.txt", "bad.txt", "after.txt"}));
    EXPECT_EQ(ReadWholeFile(dest / "after.txt"), "2");

    EXPECT_EQ(Unzip({{"first.txt", "1"}, bad}), ZipResult::Flate);  // the last entry's result
}

TEST_F(UnzipTest, EncryptedEntryNeedsAPasswordAndIsNotWritten)
{
    std::ofstream(root.Path() / "secret.txt") << "secret";
    std::ofstream(root.Path() / "plain.txt") << "plain";
    ASSERT_EQ(RunTool(root.Path(), "sh", {"-c", "zip -q -P pw enc.zip secret.txt && zip -q enc.zip plain.txt"}).status, 0);
    std::ofstream(cwd / "secret.txt") << "present, so the next entry follows";
    EXPECT_EQ(UnzipPackage((root.Path() / "enc.zip").string(), dest.string(), names), ZipResult::Ok);
    EXPECT_FALSE(fs::exists(dest / "secret.txt"));
    EXPECT_EQ(ReadWholeFile(dest / "plain.txt"), "plain");

    auto reader = CZipReader::Open((root.Path() / "enc.zip").string());
    EXPECT_EQ(reader->ExtractEntry(0, (dest / "secret.txt").string()), ZipResult::Password);
    EXPECT_FALSE(fs::exists(dest / "secret.txt"));
}

TEST_F(UnzipTest, ArchivesThatAreNotThereEmptyOrNoZipUnpackNothing)
{
    EXPECT_EQ(UnzipPackage((root.Path() / "missing.zip").string(), dest.string(), names), ZipResult::Ok);
    EXPECT_TRUE(fs::is_directory(dest));
    EXPECT_EQ(CZipReader::Open((root.Path() / "missing.zip").string()), nullptr);

    std::ofstream(root.Path() / "text.zip") << "this is not a zip archive at all";
    fs::path deeper = root.Path() / "x/y/z";
    EXPECT_EQ(UnzipPackage((root.Path() / "text.zip").string(), deeper.string(), names), ZipResult::Ok);
    EXPECT_TRUE(fs::is_directory(deeper));
    EXPECT_TRUE(names.empty());

    // minizip takes an archive without entries for no archive.
    EXPECT_EQ(Unzip({}), ZipResult::Ok);
    EXPECT_TRUE(names.empty());

    WriteZip(zip, {{"only.txt", "1"}});
    auto reader = CZipReader::Open(zip);
    ASSERT_NE(reader, nullptr);
    tagZipEntry entry;
    EXPECT_EQ(reader->GetEntry(-1, entry), ZipResult::Ok);
    EXPECT_EQ(entry.index, 1);
    EXPECT_EQ(entry.name, "");
    EXPECT_EQ(reader->GetEntry(1, entry), ZipResult::Args);
    EXPECT_EQ(reader->GetEntry(-2, entry), ZipResult::Args);
    EXPECT_EQ(reader->ExtractEntry(1, "x"), ZipResult::Args);
    EXPECT_EQ(reader->ExtractEntry(-1, "x"), ZipResult::Args);
}

TEST_F(UnzipTest, TrailingGarbageLongNamesAndManyEntries)
{
    std::vector<ZipItem> items;
    std::string longName = std::string(200, 'd') + "/" + std::string(250, 'f');
    items.push_back({longName, "long"});
    for (int i = 0; i < 10000; ++i)
        items.push_back({"many/" + std::to_string(i), std::to_string(i)});
    WriteZip(zip, items);
    std::ofstream(zip, std::ios::app) << std::string(1000, '#');
    EXPECT_EQ(UnzipPackage(zip, dest.string(), names), ZipResult::Ok);
    EXPECT_EQ(ReadWholeFile(dest / longName), "long");
    EXPECT_EQ(names.size(), 10001u);
    EXPECT_EQ(ReadWholeFile(dest / "many/9999"), "9999");
}

TEST_F(UnzipTest, RelativeTargetsLieUnderTheDirectoryCurrentAtOpen)
{
    WriteZip(zip, {{"f.txt", "file"}, Directory("d/")});
    auto reader = CZipReader::Open(zip);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->BaseDir(), cwd.string() + "/");
    EXPECT_EQ(reader->ExtractEntry(0, "out\\sub\\f.txt"), ZipResult::Ok);
    EXPECT_EQ(reader->ExtractEntry(1, "made\\here"), ZipResult::Ok);
    EXPECT_EQ(reader->ExtractEntry(0, "plain.txt"), ZipResult::Ok);
    EXPECT_EQ(ReadWholeFile(cwd / "out/sub/f.txt"), "file");
    EXPECT_TRUE(fs::is_directory(cwd / "made/here"));
    EXPECT_EQ(ReadWholeFile(cwd / "plain.txt"), "file");
}

}  // namespace

// A checked package into staging: two threads, each with the entries of half the directories.
TEST_F(UnzipTest, ACheckedPackageUnpacksOnTwoThreadsAsItWouldOnOne)
{
    std::vector<ZipItem> items;
    std::vector<std::string> expectedNames;
    for (int i = 0; i < 60; ++i) {
        const std::string name = "dir" + std::to_string(i % 12) + "/sub/file" + std::to_string(i) + ".dat";
        items.push_back({name, std::string(1000 + i * 37, static_cast<char>('a' + i % 26))});
        expectedNames.push_back(name);
    }
    items.push_back({"dir3/sub/file3.dat", "stored again, later: this one stays"});
    expectedNames.push_back("dir3/sub/file3.dat");
    items.push_back(Directory("./"));  // names the destination: nothing to make, no name
    WriteZip(zip, items);

    EXPECT_EQ(UnzipCheckedPackage(zip, dest.string(), names), ZipResult::Ok);
    EXPECT_EQ(names, expectedNames);
    for (int i = 0; i < 60; ++i) {
        const fs::path path = dest / items[static_cast<std::size_t>(i)].name;
        EXPECT_EQ(ReadWholeFile(path), i == 3 ? "stored again, later: this one stays" : items[static_cast<std::size_t>(i)].data)
            << path;
    }
}

TEST_F(UnzipTest, ACheckedPackageReportsItsFirstFailedEntryInThePackagesOrder)
{
    const std::string good = "the data of a file";
    // Entries of many directories, so that both threads have some; two fail their CRC.
    std::vector<ZipItem> items;
    for (int i = 0; i < 40; ++i)
        items.push_back({"d" + std::to_string(i) + "/f.txt", good});
    for (int bad : {17, 31}) {
        ZipItem& damaged = items[static_cast<std::size_t>(bad)];
        damaged.raw = true, damaged.deflate = false, damaged.rawCrc = Crc32(good) ^ 1, damaged.rawUncompressedSize = good.size();
    }
    WriteZip(zip, items);

    tagUnzipFailure first;
    EXPECT_EQ(UnzipCheckedPackage(zip, dest.string(), names, &first), ZipResult::Flate);
    EXPECT_EQ(first.entry, "d17/f.txt");
    EXPECT_EQ(first.result, ZipResult::Flate);
    EXPECT_EQ(names.size(), 40u);
    EXPECT_FALSE(fs::exists(dest / "d17/f.txt"));
}
