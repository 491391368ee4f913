// Updates as other tools write them, served by nginx: names with '/' between directories, names
// that hold URL syntax ('#', '%'), names Windows cannot hold, two names that flatten alike, two
// spellings of one file, names Windows stores without their trailing dots, an error page in place
// of the manifest, manifests in GBK as Chinese Windows tools write them, and packages made by
// Info-ZIP's zip and Python's zipfile: one whose probe costs the server no body, and ones that
// cannot be unpacked whole.

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

#include "tests/app/UpdaterHarness.h"
#include "tests/support/Nginx.h"
#include "tests/support/RunTool.h"

namespace {

class ManifestNamesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (NginxBinary().empty())
            GTEST_SKIP() << "nginx is not installed";
        ::chmod(site.Path().c_str(), 0755);
        site.Write("update/.keep", "");
    }

    // Publishes each file under its name (directories with '/'), listed as `listed` says.
    void Publish(const std::vector<std::tuple<std::string, std::string, std::string>>& files)
    {
        std::string entries;
        for (const auto& [onDisk, listed, contents] : files) {
            site.Write("update/" + onDisk, contents);
            entries += ManifestEntry(listed, contents);
        }
        site.Write("update/update.xml", Manifest(entries));
        nginx = std::make_unique<Nginx>(site.Path().string());
        install.Configure(nginx->Port());
    }

    // Runs a shell command in the site's directory.
    void Shell(const std::string& command)
    {
        const ToolRun run = RunTool(site.Path(), "sh", {"-c", command});
        ASSERT_EQ(run.status, 0) << command << "\n" << run.output;
    }

    // Serves build/ packed as update/Game7.zip by `packCommand` (run in build/) and runs a
    // package update of an installation that holds the old a.txt.
    UpdaterRun RunPackageUpdate(const std::string& packCommand)
    {
        site.Write("build/a.txt", "new a");
        site.Write("build/b.txt", std::string(5000, 'b'));
        Shell("cd build && " + packCommand + " && mv Game7.zip ../update/");
        install.Write("a.txt", "old a");
        nginx = std::make_unique<Nginx>(site.Path().string());
        install.Configure(nginx->Port());
        return install.Run({"Game7.dat", "1", "2", "-install"});
    }

    // The run ended having told the player the sentence and written the cause to the log, and
    // wrote nothing: a.txt is the old one, and the files named are not there.
    void ExpectRefusedBeforeAnythingWritten(const UpdaterRun& run, const std::string& sentence, const std::string& cause,
                                            const std::vector<std::string>& absent)
    {
        ASSERT_TRUE(run.ended);
        EXPECT_TRUE(run.Told(sentence)) << run.errors;
        EXPECT_NE(run.errors.find(cause), std::string::npos) << run.errors;
        EXPECT_EQ(install.Read("a.txt"), "old a");
        for (const std::string& name : absent)
            EXPECT_FALSE(install.Has(name)) << name;
    }

    Installation install;
    TempDir site;
    std::unique_ptr<Nginx> nginx;
};

TEST_F(ManifestNamesTest, NamesWithSlashesAndUrlSyntaxAreFetchedAndInstalled)
{
    Publish({{"data/map/town.dat", "data/map/town.dat", "town"},
             {"50%off.txt", "50%off.txt", "half price"},
             {"50%25off.txt", "50%25off.txt", "not the same file"},
             {"docs/#1 hit.txt", "docs\\#1 hit.txt", "number one"}});
    const UpdaterRun run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(install.Read("data/map/town.dat"), "town") << run.errors;
    EXPECT_EQ(install.Read("50%off.txt"), "half price") << run.errors;
    EXPECT_EQ(install.Read("50%25off.txt"), "not the same file") << run.errors;
    EXPECT_EQ(install.Read("docs/#1 hit.txt"), "number one") << run.errors;
    EXPECT_TRUE(run.LobbyStarted()) << run.errors;
}

// A name a Linux server serves well but Windows cannot hold ('?' is no character of a Windows
// file name) stops the update before anything is fetched or written.
TEST_F(ManifestNamesTest, ANameWindowsCannotHoldStopsTheUpdateBeforeAnythingIsWritten)
{
    install.Write("a.txt", "old a");
    Publish({{"a.txt", "a.txt", "new a"}, {"what?.txt", "what?.txt", "a question"}, {"b.txt", "b.txt", "b"}});
    ExpectRefusedBeforeAnythingWritten(install.Run(),
                                       "更新清单中的 what?.txt 无法使用（名称在 Windows 上不能用作文件名），已停止更新。",
                                       "entry 2 (what?.txt) cannot be used: its name cannot be a file's on Windows: "
                                       "\"what?.txt\" holds '?', which Windows does not allow in a name",
                                       {"what?.txt", "b.txt"});
}

// Windows holds Data\a.txt and data\a.txt as one file, and stores readme. as readme: the file is
// fetched once, at the name the manifest lists, and installed once, as Windows would hold it. The
// server has no data/a.txt: asking for it would fail the update.
TEST_F(ManifestNamesTest, TwoSpellingsOfOneFileAndTrailingDotsInstallOneFileAsWindowsStoresIt)
{
    Publish({{"Data/a.txt", "Data\\a.txt", "same"},
             {"Data/a.txt", "data\\a.txt", "same"},
             {"readme.", "readme.", "read me"},
             {"maps/old ./town.dat", "maps\\old .\\town.dat", "town"}});
    const UpdaterRun run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(install.Read("Data/a.txt"), "same") << run.errors;
    EXPECT_FALSE(install.Has("data")) << "a second file of the same name";
    EXPECT_EQ(install.Read("readme"), "read me") << run.errors;
    EXPECT_FALSE(install.Has("readme."));
    EXPECT_EQ(install.Read("maps/old/town.dat"), "town") << run.errors;
    EXPECT_FALSE(install.Has("maps/old ."));
    EXPECT_TRUE(run.LobbyStarted()) << run.errors;
    EXPECT_NE(install.Read("tmp/KesuUpdate.log").find("data\\a.txt is taken as the same file as Data\\a.txt"),
              std::string::npos);
}

// Windows stores KesuUpdate.exe. as KesuUpdate.exe: the file listed under that name is the
// updater's new copy, checked as such.
TEST_F(ManifestNamesTest, ACopyOfTheUpdaterListedWithATrailingDotMustRunHere)
{
    const std::string program = install.Read("KesuUpdate.exe");
    Publish({{"KesuUpdate.exe.", "KesuUpdate.exe.", std::string("MZ\x90\x00 not a program for this machine", 36)}});
    const UpdaterRun run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.Told(DownloadFailed("KesuUpdate.exe"))) << run.errors;
    EXPECT_NE(run.errors.find("it cannot replace the running updater"), std::string::npos) << run.errors;
    EXPECT_TRUE(install.Read("KesuUpdate.exe") == program);  // not its bytes on failure
}

// Two spellings of one file that describe different files: the manifest contradicts itself.
TEST_F(ManifestNamesTest, TwoSpellingsOfOneFileThatDifferStopTheUpdateBeforeAnythingIsWritten)
{
    install.Write("a.txt", "old a");
    struct Case {
        std::string first, second, sentence, cause;
    } cases[] = {
        {"Data\\a.txt", "data\\a.txt",
         "更新清单中的 data\\a.txt 无法使用（与 Data\\a.txt 只有大小写不同，在 Windows 上是同一个文件），已停止更新。",
         "entry 3 (data\\a.txt) cannot be used: its name differs from Data\\a.txt's in letter case alone: one file on "
         "Windows"},
        {"readme", "readme.", "更新清单中的 readme. 无法使用（与 readme 在 Windows 上是同一个文件），已停止更新。",
         "entry 3 (readme.) cannot be used: its name and readme's are one file on Windows, which drops the dots and "
         "blanks a name's parts end in"},
    };
    for (const Case& c : cases) {
        Publish({{"a.txt", "a.txt", "new a"}, {"first", c.first, "one"}, {"second", c.second, "another"}});
        ExpectRefusedBeforeAnythingWritten(install.Run(), c.sentence, c.cause, {"Data", "data", "readme", "readme."});
    }
}

TEST_F(ManifestNamesTest, TwoNamesThatFlattenAlikeKeepTheirOwnContents)
{
    Publish({{"a/b.txt", "a\\b.txt", "in a directory"},
             {"a_b.txt", "a_b.txt", "beside it"},
             {"x/y/z.txt", "x/y\\z.txt", "deeper"},
             {"x_y_z.txt", "x_y_z.txt", "flat"}});
    const UpdaterRun run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(install.Read("a/b.txt"), "in a directory") << run.errors;
    EXPECT_EQ(install.Read("a_b.txt"), "beside it") << run.errors;
    EXPECT_EQ(install.Read("x/y/z.txt"), "deeper") << run.errors;
    EXPECT_EQ(install.Read("x_y_z.txt"), "flat") << run.errors;
}

TEST_F(ManifestNamesTest, AnErrorPageInPlaceOfTheManifestSaysTheServerHasNoUpdate)
{
    nginx = std::make_unique<Nginx>(site.Path().string());  // no update.xml: nginx's own 404 page
    install.Configure(nginx->Port());
    const UpdaterRun run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.Told("Error line:546")) << run.errors;
    EXPECT_TRUE(run.LobbyStarted()) << run.errors;
}

TEST_F(ManifestNamesTest, ThePackageProbeCostsTheServerNoBody)
{
    std::string contents(1 << 20, '\0');
    for (std::size_t i = 0; i < contents.size(); ++i)  // does not compress: the package is its size
        contents[i] = static_cast<char>((i * 2654435761u) >> 13);
    site.Write("build/data.bin", contents);
    ASSERT_EQ(std::system(("cd '" + (site.Path() / "build").string() + "' && zip -q -0 '" +
                           (site.Path() / "update/Game7.zip").string() + "' data.bin")
                              .c_str()),
              0);
    nginx = std::make_unique<Nginx>(site.Path().string());
    install.Configure(nginx->Port());
    const UpdaterRun run = install.Run({"Game7.dat", "1", "2", "-install"});
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(install.Read("data.bin"), contents) << run.errors;
    const auto package = fs::file_size(site.Path() / "update/Game7.zip");
    EXPECT_LT(nginx->BodyBytesSent(), package + package / 2) << "the probe fetched the package too";
}

TEST_F(ManifestNamesTest, ManifestsInGbkInstallTheirChineseNames)
{
    const std::string town = "\xE5\x9F\x8E\xE9\x95\x87.dat", light = "\xE6\xB7\xBA\xE8\x89\xB2.txt";  // 城镇, 淺色
    site.Write("update/" + town, "town");
    site.Write("update/" + light, "light");
    site.Write("update/plain.txt", "plain");
    // What a Windows publisher writes: declared GB2312, in code page 936 (淺 is not in GB2312);
    // and GBK text that declares nothing.
    site.Write("declared.xml", "<?xml version=\"1.0\" encoding=\"gb2312\"?>" +
                                   Manifest(ManifestEntry(town, "town") + ManifestEntry(light, "light")));
    site.Write("undeclared.xml", Manifest(ManifestEntry(town, "town") + ManifestEntry("plain.txt", "plain")));
    Shell("iconv -f UTF-8 -t CP936 declared.xml > update/Game7.xml && iconv -f UTF-8 -t GBK undeclared.xml > "
          "update/Game8.xml");
    nginx = std::make_unique<Nginx>(site.Path().string());
    install.Configure(nginx->Port());

    UpdaterRun run = install.Run({"Game7.dat", "1", "2"});
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(install.Read(town), "town") << run.errors;
    EXPECT_EQ(install.Read(light), "light") << run.errors;
    run = install.Run({"Game8.dat", "1", "2"});
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(install.Read("plain.txt"), "plain") << run.errors;
}

TEST_F(ManifestNamesTest, APackageWithAnEntryThatCannotBeUnpackedFailsAndStays)
{
    const UpdaterRun run = RunPackageUpdate(
        "/usr/bin/python3 -c 'import zipfile\nwith zipfile.ZipFile(\"Game7.zip\", \"w\") as z:\n"
        " z.write(\"a.txt\", compress_type=zipfile.ZIP_DEFLATED)\n z.write(\"b.txt\", compress_type=zipfile.ZIP_BZIP2)'");
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.Told("更新包中的 b.txt 无法解压（压缩方式 bzip2 不受支持），已停止更新。")) << run.errors;
    EXPECT_TRUE(run.Told(kFailedRunText)) << run.errors;
    EXPECT_NE(run.errors.find("b.txt of the package cannot be unpacked: it is compressed with bzip2"), std::string::npos)
        << run.errors;
    EXPECT_EQ(install.Read("a.txt"), "old a");
    EXPECT_FALSE(install.Has("b.txt"));
    EXPECT_TRUE(install.Has("tmp/Game7.zip")) << "kept for the next run";
    EXPECT_FALSE(run.LobbyStarted());
}

// Python's zipfile keeps names that differ in letter case alone apart; Windows would unpack both
// into one file.
TEST_F(ManifestNamesTest, APackageWithTwoNamesThatDifferInLetterCaseAloneFailsBeforeAnythingIsWritten)
{
    const UpdaterRun run = RunPackageUpdate(
        "/usr/bin/python3 -c 'import zipfile\nwith zipfile.ZipFile(\"Game7.zip\", \"w\") as z:\n"
        " z.write(\"a.txt\")\n z.write(\"b.txt\")\n z.writestr(\"A.TXT\", \"upper\")'");
    ExpectRefusedBeforeAnythingWritten(
        run, "更新包中的 A.TXT 无法解压（与 a.txt 只有大小写不同，在 Windows 上是同一个文件），已停止更新。",
        "A.TXT of the package cannot be unpacked: its name differs from a.txt's in letter case alone: one file on Windows",
        {"b.txt", "A.TXT"});
    EXPECT_FALSE(run.LobbyStarted());
}

// Info-ZIP's zip keeps Data/a.txt and data/a.txt apart, and readme. as it is named; Windows holds
// one file for the two spellings, and readme. as readme. The files are the shell's (see above).
TEST_F(ManifestNamesTest, APackageWithTwoSpellingsOfOneFileUnpacksItOnceAsWindowsStoresIt)
{
    const UpdaterRun run = RunPackageUpdate(
        "mkdir Data data && echo same > Data/a.txt && cp Data/a.txt data/a.txt && echo r > readme. && "
        "zip -q Game7.zip a.txt Data/a.txt data/a.txt readme.");
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(install.Read("a.txt"), "new a") << run.errors;
    EXPECT_EQ(install.Read("Data/a.txt"), "same\n") << run.errors;
    EXPECT_FALSE(install.Has("data")) << "a second file of the same name";
    EXPECT_EQ(install.Read("readme"), "r\n") << run.errors;
    EXPECT_FALSE(install.Has("readme."));
    EXPECT_FALSE(run.Told(kFailedRunText)) << run.errors;
    EXPECT_NE(install.Read("tmp/KesuUpdate.log").find("data/a.txt of the package is taken as the same file as Data/a.txt"),
              std::string::npos);
}

TEST_F(ManifestNamesTest, APackageWithTwoSpellingsOfOneFileThatDifferFailsBeforeAnythingIsWritten)
{
    struct Case {
        std::string pack, sentence, cause;
    } cases[] = {
        {"mkdir Data data && echo one > Data/a.txt && echo two > data/a.txt && zip -q Game7.zip a.txt Data/a.txt "
         "data/a.txt",
         "更新包中的 data/a.txt 无法解压（与 Data/a.txt 只有大小写不同，在 Windows 上是同一个文件），已停止更新。",
         "data/a.txt of the package cannot be unpacked: its name differs from Data/a.txt's in letter case alone: one "
         "file on Windows"},
        {"echo one > readme && echo two > readme. && zip -q Game7.zip a.txt readme readme.",
         "更新包中的 readme. 无法解压（与 readme 在 Windows 上是同一个文件），已停止更新。",
         "readme. of the package cannot be unpacked: its name and readme's are one file on Windows, which drops the "
         "dots and blanks a name's parts end in"},
    };
    for (const Case& c : cases) {
        fs::remove_all(install.Path() / "tmp");  // the package the run before kept
        fs::remove_all(site.Path() / "build");
        const UpdaterRun run = RunPackageUpdate(c.pack);
        ExpectRefusedBeforeAnythingWritten(run, c.sentence, c.cause, {"Data", "data", "readme", "readme.", "b.txt"});
        EXPECT_FALSE(run.LobbyStarted());
    }
}

// Windows stores KesuUpdate.exe. as KesuUpdate.exe: that entry is the updater's copy too.
TEST_F(ManifestNamesTest, APackagedUpdaterMustBeAProgramForThisMachine)
{
    const std::string before = install.Read("KesuUpdate.exe");
    const std::string packs[][2] = {
        // bsdtar names the entries ./a.txt and ./KesuUpdate.exe.
        {"echo 'not a program' > KesuUpdate.exe && bsdtar --format zip -cf Game7.zip ./a.txt ./KesuUpdate.exe",
         "KesuUpdate.exe"},
        {"echo 'not a program' > KesuUpdate.exe. && zip -q Game7.zip a.txt KesuUpdate.exe.", "KesuUpdate.exe."},
    };
    for (const auto& [pack, entry] : packs) {
        fs::remove_all(install.Path() / "tmp");  // the package the run before kept
        const UpdaterRun run = RunPackageUpdate(pack);
        ASSERT_TRUE(run.ended);
        EXPECT_TRUE(run.Told("更新包中的 " + entry + " 无法解压（不是本机可以运行的程序），已停止更新。")) << run.errors;
        EXPECT_TRUE(install.Read("KesuUpdate.exe") == before);
        EXPECT_EQ(install.Read("a.txt"), "old a");
    }
}

TEST_F(ManifestNamesTest, APackageThatFailsWhileUnpackingIsAFailureThatInstallsNothing)
{
    // b.txt's stored data damaged after zip wrote them: its CRC-32 fails once a.txt is unpacked
    // (into staging, from where nothing has moved yet).
    const UpdaterRun run = RunPackageUpdate(
        "zip -q -0 Game7.zip a.txt b.txt && printf c | dd of=Game7.zip bs=1 seek=$(grep -abo bbbb Game7.zip | head -1 | "
        "cut -d: -f1) conv=notrunc status=none");
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.Told("更新包中的 b.txt 无法解压（数据已损坏），已停止更新。")) << run.errors;
    EXPECT_NE(run.errors.find("b.txt of the package was not unpacked"), std::string::npos) << run.errors;
    EXPECT_EQ(install.Read("a.txt"), "old a");
    EXPECT_FALSE(install.Has("b.txt"));
    EXPECT_FALSE(install.Has("tmp/.KesuUpdate.staging"));
    EXPECT_TRUE(install.Has("tmp/Game7.zip"));
    EXPECT_FALSE(run.LobbyStarted());
}

}  // namespace
