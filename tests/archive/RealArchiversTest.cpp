// Packages as real archivers make them: Info-ZIP's zip, bsdtar, 7-Zip, Python's zipfile and jar.
// A build packed whole from its directory unpacks as it was; entries this program cannot unpack
// are found before anything is written; Zip64 records, links and GBK names from Chinese Windows
// tools unpack as their creators meant.

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sys/stat.h>

#include "archive/PackageCheck.h"
#include "archive/UnzipPackage.h"
#include "archive/ZipReader.h"
#include "archive/PackageDirectory.h"
#include "platform/Path.h"
#include "sentences/Sentences.h"
#include "tests/support/RunTool.h"
#include "tests/support/SymbolicLinks.h"
#include "tests/support/TempDir.h"
#include "tests/support/UnpackableEntry.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kPython = "/usr/bin/python3";

class RealArchiversTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* tool : {"zip", "bsdtar", "7z", kPython, "jar"})
            if (RunTool(files.Path(), "sh", {"-c", std::string("command -v ") + tool}).status != 0)
                GTEST_SKIP() << tool << " is not installed";
        files.Write("a.txt", "first file\n");
        std::string lines;
        for (int i = 0; i < 3000; ++i)
            lines += "line " + std::to_string(i) + "\n";
        files.Write("b.txt", lines);
    }

    // Runs a shell command in the directory of the files to pack; the package is files/p.zip.
    void Pack(const std::string& command)
    {
        ToolRun run = RunTool(files.Path(), "sh", {"-c", command}, "", {"LC_ALL=C.UTF-8"});
        ASSERT_EQ(run.status, 0) << command << "\n" << run.output;
    }

    // Writes p.zip with Python's zipfile; `body` runs with the archive open as z.
    void PackWithPython(const std::string& body)
    {
        Pack(std::string(kPython) + " -c 'import zipfile, stat\nwith zipfile.ZipFile(\"p.zip\", \"w\") as z:\n" + body +
             "'");
    }

    std::optional<Failure> Check()
    {
        std::unique_ptr<CZipReader> reader = CZipReader::Open(Package());
        EXPECT_TRUE(reader);
        return reader ? FindUnpackableEntry(*reader) : std::nullopt;
    }

    ZipResult Unpack()
    {
        std::vector<std::string> names;
        return UnzipPackage(Package(), dest.Path().string(), names);
    }

    std::string Package() const { return (files.Path() / "p.zip").string(); }

    // A game's build as a studio packs it, from inside files/build: files, a folder with a file,
    // an empty folder and a link (where this system can unpack one).
    void MakeBuild()
    {
        files.Write("build/a.txt", "first file\n");
        files.Write("build/data/x.dat", "the map\n");
        fs::create_directories(files.Path() / "build/data/empty");
        if (SymbolicLinksCanBeMade(dest.Path()))
            fs::create_symlink("data/x.dat", files.Path() / "build/current.dat");
    }

    TempDir files;
    TempDir dest;
};

// Every path below the directory (links not followed), with its contents for a file.
std::set<std::pair<std::string, std::string>> Tree(const fs::path& root)
{
    std::set<std::pair<std::string, std::string>> tree;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        const bool directory = item.is_directory() && !item.is_symlink();
        tree.emplace(item.path().lexically_relative(root).string(), directory ? "" : ReadWholeFile(item.path()));
    }
    return tree;
}

TEST_F(RealArchiversTest, ABuildPackedWholeFromItsDirectoryUnpacksAsItWas)
{
    MakeBuild();
    const std::string commands[] = {
        "zip -q -r -y ../p.zip .",
        // bsdtar's first entry is "./", the destination itself; Windows' tar.exe is bsdtar.
        "bsdtar --format zip -cf ../p.zip .",
        "bsdtar --format zip --options zip:compression=store -cf ../p.zip .",
        "bsdtar -a -cf ../p.zip .",
        "7z a -tzip ../p.zip .",
        std::string(kPython) + " -m zipfile -c ../p.zip .",
        "jar cfM ../p.zip .",  // its folders have no folder attribute
    };
    for (const std::string& command : commands) {
        fs::remove(Package());
        fs::remove_all(dest.Path());
        Pack("cd build && " + command);
        const std::optional<Failure> problem = Check();
        EXPECT_FALSE(problem) << command << ": " << (problem ? problem->strCause : "");
        ASSERT_EQ(Unpack(), ZipResult::Ok) << command;
        EXPECT_EQ(Tree(dest.Path()), Tree(files.Path() / "build")) << command;
    }
}

TEST_F(RealArchiversTest, EntriesThatCannotBeUnpackedAreNamedWithTheReason)
{
    struct Case {
        std::string command;
        std::string entry, cause;
    } cases[] = {
        {std::string(kPython) + " -c 'import zipfile\nwith zipfile.ZipFile(\"p.zip\", \"w\") as z:\n"
                                " z.write(\"a.txt\", compress_type=zipfile.ZIP_DEFLATED)\n"
                                " z.write(\"b.txt\", compress_type=zipfile.ZIP_BZIP2)'",
         "b.txt", "bzip2"},
        {std::string(kPython) + " -c 'import zipfile\nwith zipfile.ZipFile(\"p.zip\", \"w\") as z:\n"
                                " z.write(\"b.txt\", compress_type=zipfile.ZIP_LZMA)'",
         "b.txt", "LZMA"},
        {"7z a -tzip -mm=Deflate64 p.zip a.txt b.txt", "b.txt", "Deflate64"},  // a.txt is too small to pack
        {"7z a -tzip -psecret p.zip a.txt", "a.txt", "encrypted"},
        {"7z a -tzip -psecret -mem=AES256 p.zip a.txt", "a.txt", "encrypted"},
    };
    for (const Case& c : cases) {
        fs::remove(Package());
        Pack(c.command);
        std::optional<Failure> problem = Check();
        ASSERT_TRUE(problem) << c.command;
        EXPECT_EQ(UnpackableEntry(*problem), c.entry) << c.command;
        EXPECT_NE(UnpackableCause(*problem).find(c.cause), std::string::npos) << c.command << ": " << problem->strCause;
        EXPECT_FALSE(problem->strSentence.empty());
    }
}

// Every path below the directory with '/' (on Windows too, where a second spelling's file would
// show under the first's name), with its contents for a file.
std::set<std::pair<std::string, std::string>> Listing(const fs::path& root)
{
    std::set<std::pair<std::string, std::string>> listing;
    for (const auto& item : fs::recursive_directory_iterator(root))
        listing.emplace(GenericUtf8OfPath(item.path().lexically_relative(root)),
                        item.is_directory() ? "" : ReadWholeFile(item.path()));
    return listing;
}

// Windows holds Data/a.txt and data/a.txt as one file, and readme. as readme. The same file under
// two spellings is unpacked once, under the first; two that differ, a link among them, or two
// folders, refuse the package. The files are the shell's, made and removed in the command that
// packs them: Wine could not remove names Windows cannot hold.
TEST_F(RealArchiversTest, TwoSpellingsOfOneFileAreUnpackedOnceWhenTheyAgree)
{
    struct Case {
        std::string make, names;  // shell commands that make the files; the names zip packs, in order
        std::set<std::pair<std::string, std::string>> unpacked;  // empty: refused
        std::string entry = {}, reason = {};
    } cases[] = {
        {"mkdir Data data && echo same > Data/a.txt && cp Data/a.txt data/a.txt", "Data/a.txt data/a.txt",
         {{"Data", ""}, {"Data/a.txt", "same\n"}}},
        {"echo r > readme. && mkdir 'old .' && echo t > 'old ./town.dat'", "readme. 'old ./town.dat'",
         {{"old", ""}, {"old/town.dat", "t\n"}, {"readme", "r\n"}}},
        {"echo same > readme && cp readme 'README. '", "readme 'README. '", {{"readme", "same\n"}}},
        {"mkdir Data data && echo one > Data/a.txt && echo two > data/a.txt", "Data/a.txt data/a.txt", {}, "data/a.txt",
         "与 Data/a.txt 只有大小写不同，在 Windows 上是同一个文件"},
        {"echo one > readme && echo two > readme.", "readme readme.", {}, "readme.", "与 readme 在 Windows 上是同一个文件"},
        // The link's data are its target, the file's the same five bytes.
        {"printf x > a.txt && ln -s a.txt Lnk && printf a.txt > lnk", "a.txt Lnk lnk", {}, "lnk",
         "与 Lnk 只有大小写不同，在 Windows 上是同一个文件"},
        {"mkdir Maps maps", "Maps maps", {}, "maps/", "与 Maps/ 只有大小写不同，在 Windows 上是同一个文件"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.names);
        fs::remove(Package());
        fs::remove_all(dest.Path());
        Pack("mkdir s && cd s && " + c.make + " && zip -q -y ../p.zip " + c.names +
             "; packed=$?; cd .. && rm -rf s; exit $packed");
        const std::optional<Failure> problem = Check();
        if (!c.unpacked.empty()) {
            ASSERT_FALSE(problem) << problem->strCause;
            std::vector<std::string> names;
            ASSERT_EQ(UnzipCheckedPackage(Package(), dest.Path().string(), names), ZipResult::Ok);
            EXPECT_EQ(Listing(dest.Path()), c.unpacked);
        } else {
            ASSERT_TRUE(problem);
            EXPECT_EQ(UnpackableEntry(*problem), c.entry);
            EXPECT_EQ(problem->strSentence, sentence::CannotUnpack(c.entry, c.reason));
        }
    }
}

TEST_F(RealArchiversTest, Zip64RecordsAreReadAndUnpacked)
{
    for (const std::string& command :
         {std::string("zip -q -fz p.zip a.txt b.txt"),
          // Records for both sizes and the offset, as for entries of 4 GiB and more.
          std::string(kPython) + " -c 'import zipfile\nzipfile.ZIP64_LIMIT = 0\n"
                                 "with zipfile.ZipFile(\"p.zip\", \"w\", zipfile.ZIP_DEFLATED) as z:\n"
                                 " z.write(\"a.txt\"); z.write(\"b.txt\", compress_type=zipfile.ZIP_STORED)'"}) {
        fs::remove(Package());
        Pack(command);
        std::unique_ptr<CZipReader> reader = CZipReader::Open(Package());
        ASSERT_TRUE(reader) << command;
        tagZipEntry entry;
        ASSERT_EQ(reader->GetEntry(1, entry), ZipResult::Ok) << command;
        EXPECT_EQ(entry.unc_size, fs::file_size(files.Path() / "b.txt")) << command;
        EXPECT_FALSE(FindUnpackableEntry(*reader)) << command;
        reader.reset();
        EXPECT_EQ(Unpack(), ZipResult::Ok) << command;
        EXPECT_TRUE(ReadWholeFile(dest.Path() / "b.txt") == ReadWholeFile(files.Path() / "b.txt")) << command;
    }
}

TEST_F(RealArchiversTest, TheUnpackedSizeIsReadFromTheArchivesEndAlone)
{
    const std::uint64_t unpacked = fs::file_size(files.Path() / "a.txt") + fs::file_size(files.Path() / "b.txt");
    for (const std::string& command : {std::string("zip -q -9 p.zip a.txt b.txt"), std::string("zip -q -fz p.zip a.txt b.txt"),
                                       std::string("bsdtar -a -cf p.zip a.txt b.txt"), std::string("7z a -tzip p.zip a.txt b.txt")}) {
        fs::remove(Package());
        Pack(command);
        const std::string archive = ReadWholeFile(Package());
        // The directory and its end record are the last bytes; the data before them are not needed.
        const std::string tail = archive.substr(archive.size() - 400);
        EXPECT_EQ(UnpackedSizeFromTail(tail, archive.size()), unpacked) << command;
        EXPECT_EQ(UnpackedSizeFromTail(archive, archive.size()), unpacked) << command;
        EXPECT_FALSE(UnpackedSizeFromTail(archive.substr(archive.size() - 40), archive.size())) << command;
        EXPECT_FALSE(UnpackedSizeFromTail(std::string(200, 'x'), archive.size())) << command;
    }
}

TEST_F(RealArchiversTest, LinksInsideTheTreeBecomeLinks)
{
    if (!SymbolicLinksCanBeMade(dest.Path()))
        GTEST_SKIP() << kNoSymbolicLinks;
    fs::create_directories(files.Path() / "data/maps");
    files.Write("data/maps/town.dat", "town");
    fs::create_symlink("maps/town.dat", files.Path() / "data/current.dat");
    fs::create_symlink("../a.txt", files.Path() / "data/readme");
    for (const std::string& command : {std::string("bsdtar --format zip -cf p.zip a.txt data"),
                                       std::string("zip -q -r -y p.zip a.txt data")}) {
        fs::remove(Package());
        fs::remove_all(dest.Path() / "data");
        Pack(command);
        EXPECT_FALSE(Check()) << command;
        ASSERT_EQ(Unpack(), ZipResult::Ok) << command;
        EXPECT_EQ(fs::read_symlink(dest.Path() / "data/current.dat"), "maps/town.dat") << command;
        EXPECT_EQ(fs::read_symlink(dest.Path() / "data/readme"), "../a.txt") << command;
        EXPECT_EQ(ReadWholeFile(dest.Path() / "data/current.dat"), "town") << command;
    }
}

TEST_F(RealArchiversTest, LinksOutOfTheTreeAndPathsThroughLinksAreRefused)
{
    const std::string link = " i = zipfile.ZipInfo(\"%s\"); i.create_system = 3;"
                             " i.external_attr = (stat.S_IFLNK | 0o777) << 16; z.writestr(i, \"%s\")\n";
    auto Link = [&](const std::string& name, const std::string& target) {
        std::string line = link;
        line.replace(line.find("%s"), 2, name);
        line.replace(line.find("%s"), 2, target);
        return line;
    };
    struct Case {
        std::string body, entry;
    } cases[] = {
        {Link("etc", "/etc"), "etc"},
        {Link("up", "../outside"), "up"},
        {Link("sub/up", "x/../../.."), "sub/up"},
        {Link("sub/deep", "../../outside"), "sub/deep"},
        {" z.writestr(\"dir/x.txt\", \"x\")\n" + Link("dir", "real"), "dir/x.txt"},
        {Link("./L", "..") + " z.writestr(\"L/x.txt\", \"x\")\n", "L"},
        {Link("a/./././up", "../../.."), "a/up"},
        {" z.writestr(\"bad\\x01name.txt\", \"x\")\n", "bad\x01name.txt"},
        {" z.writestr(\".\", \"a file with no name\")\n", ""},
    };
    for (const Case& c : cases) {
        fs::remove(Package());
        PackWithPython(c.body);
        std::optional<Failure> problem = Check();
        ASSERT_TRUE(problem) << c.body;
        EXPECT_EQ(UnpackableEntry(*problem), c.entry) << problem->strCause;
    }
    // The writer refuses such a link too, whoever calls it.
    fs::remove(Package());
    PackWithPython(Link("up", "../outside"));
    std::unique_ptr<CZipReader> reader = CZipReader::Open(Package());
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->ExtractEntry(0, (dest.Path() / "up").string()), ZipResult::NoFile);
    EXPECT_FALSE(fs::exists(fs::symlink_status(dest.Path() / "up")));
}

TEST_F(RealArchiversTest, ALinkOfTheInstallationIsWrittenThroughButNoneThePackageMakes)
{
    if (!SymbolicLinksCanBeMade(dest.Path()))
        GTEST_SKIP() << kNoSymbolicLinks;
    // A folder the player moved elsewhere and linked back: entries below it may go there.
    TempDir elsewhere;
    fs::create_directory_symlink(elsewhere.Path(), dest.Path() / "saves");
    fs::create_directories(files.Path() / "saves");
    files.Write("saves/x.txt", "x");
    Pack("zip -q -r p.zip a.txt saves");
    EXPECT_FALSE(Check());

    // The package's own link "data", then an entry below it.
    fs::create_directories(files.Path() / "own/real");
    fs::create_symlink("real", files.Path() / "own/data");
    files.Write("below/data/x.txt", "x");
    fs::remove(Package());
    Pack("cd own && zip -q -y ../p.zip data && cd ../below && zip -q -r ../p.zip data");
    std::optional<Failure> problem = Check();
    ASSERT_TRUE(problem);
    EXPECT_EQ(UnpackableEntry(*problem), "data/x.txt");
    EXPECT_EQ(Unpack(), ZipResult::NoFile);  // the unpacker refuses it too, whoever calls it
    EXPECT_FALSE(fs::exists(dest.Path() / "real"));
}

TEST_F(RealArchiversTest, ADamagedLinkIsNotMade)
{
    if (!SymbolicLinksCanBeMade(dest.Path()))
        GTEST_SKIP() << kNoSymbolicLinks;
    fs::create_symlink("a.txt", files.Path() / "link");
    Pack("zip -q -y p.zip a.txt link && printf X | dd of=p.zip bs=1 seek=$(grep -abo 'a\\.txt' p.zip | sed -n 2p | "
         "cut -d: -f1) conv=notrunc status=none");
    std::optional<Failure> problem = Check();
    ASSERT_TRUE(problem);
    EXPECT_EQ(UnpackableEntry(*problem), "link");
    Unpack();
    EXPECT_FALSE(fs::exists(fs::symlink_status(dest.Path() / "link")));
}

#ifndef _WIN32  // Windows has neither permission bits nor a umask
TEST_F(RealArchiversTest, ModesAreMaskedByTheUmask)
{
    ::chmod((files.Path() / "a.txt").c_str(), 0666);
    ::chmod((files.Path() / "b.txt").c_str(), 0777);
    Pack("zip -q p.zip a.txt b.txt");
    const mode_t previous = ::umask(027);
    const ZipResult result = Unpack();
    ::umask(previous);
    ASSERT_EQ(result, ZipResult::Ok);
    struct stat st {};
    ASSERT_EQ(::stat((dest.Path() / "a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    ASSERT_EQ(::stat((dest.Path() / "b.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0750u);
}
#endif

TEST_F(RealArchiversTest, GbkNamesFromChineseWindowsToolsArriveAsUtf8)
{
    // 淺色.txt in GBK is 9C 5C C9 AB: its trail byte 0x5C is a '\' in ASCII. The file of that name
    // is the shell's, made and removed in the command that packs it: Windows' side names files in
    // Unicode alone, and Wine cannot remove one named otherwise.
    const std::string utf8Name = "\xE6\xB7\xBA\xE8\x89\xB2.txt";
    const std::string gbkName = "\"$(printf '\\234\\134\\311\\253.txt')\"";
    std::ofstream(files.Path() / PathFromUtf8(utf8Name)) << "light";
    const std::string packGbkName = "printf light > " + gbkName + " && LC_ALL=C zip -q p.zip " + gbkName +
                                    "; packed=$?; rm -f " + gbkName + "; exit $packed";
    for (const std::string& command : {packGbkName,
                                       "bsdtar --format zip --options zip:hdrcharset=CP936 -cf p.zip '" + utf8Name + "'"}) {
        fs::remove(Package());
        fs::remove_all(dest.Path());
        fs::create_directories(dest.Path());
        Pack(command);
        ASSERT_EQ(Unpack(), ZipResult::Ok) << command;
        EXPECT_EQ(ReadWholeFile(dest.Path() / PathFromUtf8(utf8Name)), "light") << command;
        EXPECT_EQ(std::distance(fs::directory_iterator(dest.Path()), fs::directory_iterator()), 1) << command;
    }
}

}  // namespace
