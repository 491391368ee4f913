// Checks that hold with or without keys, against an installation tampered with on this machine:
// a new copy of the updater that cannot run here, links and a fifo planted where the updater
// writes, a temporary directory that leads out of the installation. KesuUpdate.exe runs as the
// lobby runs it, against nginx.

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

#include "tests/app/UpdaterHarness.h"
#include "tests/support/Nginx.h"

using namespace std::chrono_literals;

namespace {

const std::string kGood = "good file";
const std::string kData(1000, 'd');

// An installation holding an old data.bin, updated from nginx.
class LocalTamperTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (NginxBinary().empty())
            GTEST_SKIP() << "nginx is not installed";
        install.Write("data.bin", "old data");
    }

    // nginx serving update/ with these files.
    void ServeWithNginx(const std::vector<std::pair<std::string, std::string>>& files)
    {
        ::chmod(site.Path().c_str(), 0755);
        for (const auto& [name, contents] : files)
            site.Write("update/" + name, contents);
        nginx = std::make_unique<Nginx>(site.Path().string());
        install.Configure(nginx->Port());
    }

    void ExpectNothingInstalled() const
    {
        EXPECT_FALSE(install.Has("good.txt"));
        EXPECT_EQ(install.Read("data.bin"), "old data");
    }

    Installation install;
    TempDir site;
    std::unique_ptr<Nginx> nginx;
};

// A new KesuUpdate.exe that this machine cannot run, with the digest the manifest lists.
struct BadProgram {
    const char* name;
    std::function<std::string(const std::string& program)> make;  // from the running program's bytes
};

const BadProgram kBadPrograms[] = {
    {"NotAnElf", [](const std::string&) { return std::string("MZ\x90\x00 not a program for this machine", 36); }},
    {"ElfOfAnotherMachine",
     [](const std::string& program) {
         std::string other = program;
         other[18] = other[18] == 62 ? static_cast<char>(183) : 62;  // e_machine: x86-64 <-> AArch64
         other[19] = 0;
         return other;
     }},
    {"TruncatedElf", [](const std::string& program) { return program.substr(0, 40); }},
    {"ObjectFileNotProgram",
     [](const std::string& program) {
         std::string library = program;
         library[16] = 1;  // e_type ET_REL: an object file, not an executable
         return library;
     }},
};

void PrintTo(const BadProgram& bad, std::ostream* out)
{
    *out << bad.name;
}

class BadSelfUpdateTest : public LocalTamperTest, public ::testing::WithParamInterface<BadProgram> {};

TEST_P(BadSelfUpdateTest, IsRefusedAndTheRunningProgramStaysInPlace)
{
    const std::string program = install.Read("KesuUpdate.exe");
    const std::string bad = GetParam().make(program);
    ServeWithNginx({{"update.xml", Manifest(ManifestEntry("good.txt", kGood) + ManifestEntry("KesuUpdate.exe", bad))},
                    {"good.txt", kGood},
                    {"KesuUpdate.exe", bad}});
    UpdaterRun run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.Told(DownloadFailed("KesuUpdate.exe"))) << run.errors;
    EXPECT_TRUE(run.Told(kFailedRunText)) << run.errors;
    EXPECT_EQ(install.Read("KesuUpdate.exe"), program);
    EXPECT_FALSE(install.Has("KesuUpdate_old.exe"));
    EXPECT_FALSE(install.Has("good.txt"));

    // Still the program it was: the next update without it goes through.
    site.Write("update/update.xml", Manifest(ManifestEntry("good.txt", kGood)));
    run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(install.Read("good.txt"), kGood) << run.errors;
    EXPECT_TRUE(run.LobbyStarted()) << run.errors;
}

INSTANTIATE_TEST_SUITE_P(Program, BadSelfUpdateTest, ::testing::ValuesIn(kBadPrograms),
                         [](const ::testing::TestParamInfo<BadProgram>& info) { return info.param.name; });

// Someone with access to the installation plants a link where the download will be written.
class PlantedLinkTest : public LocalTamperTest, public ::testing::WithParamInterface<bool> {};

TEST_P(PlantedLinkTest, IsNeverWrittenThroughAndTheUpdateStillWorks)
{
    const bool targetExists = GetParam();
    TempDir outside;
    const fs::path target = outside.Path() / "precious.txt";
    if (targetExists)
        outside.Write("precious.txt", "precious");
    ServeWithNginx({{"update.xml", Manifest(ManifestEntry("data.bin", kData))}, {"data.bin", kData}});
    fs::create_directories(install.Path() / "tmp");
    fs::create_symlink(target, install.Path() / "tmp/data.bin.dtm");
    const UpdaterRun run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(install.Read("data.bin"), kData) << run.errors;
    EXPECT_FALSE(fs::is_symlink(install.Path() / "data.bin"));
    if (targetExists)
        EXPECT_EQ(ReadWholeFile(target), "precious");
    else
        EXPECT_FALSE(fs::exists(target));
}

INSTANTIATE_TEST_SUITE_P(Tmp, PlantedLinkTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "ToAFileOutside" : "ToNothingYet";
                         });

TEST_F(LocalTamperTest, AFifoAtAListedPathIsReplacedNotWaitedOn)
{
    ServeWithNginx({{"update.xml", Manifest(ManifestEntry("data.bin", kData))}, {"data.bin", kData}});
    fs::remove(install.Path() / "data.bin");
    ASSERT_EQ(::mkfifo((install.Path() / "data.bin").c_str(), 0644), 0);
    const UpdaterRun run = install.Run({}, {}, 30s);
    ASSERT_TRUE(run.ended) << "the updater waits on the fifo";
    EXPECT_TRUE(fs::is_regular_file(install.Path() / "data.bin"));
    EXPECT_EQ(install.Read("data.bin"), kData) << run.errors;
}

// A temporary directory that would put downloads outside the installation.
struct Outside {
    const char* name;
    const char* way;  // TempDir's value before the outside directory's name, or "link": tmp links there
};

void PrintTo(const Outside& outside, std::ostream* out)
{
    *out << outside.name;
}

class TempDirOutsideTest : public LocalTamperTest, public ::testing::WithParamInterface<Outside> {};

TEST_P(TempDirOutsideTest, IsRefusedAndNothingIsWrittenThere)
{
    TempDir outside;  // beside the installation, both in the system's temporary directory
    ServeWithNginx({{"update.xml", Manifest(ManifestEntry("good.txt", kGood) + ManifestEntry("data.bin", kData))},
                    {"good.txt", kGood},
                    {"data.bin", kData}});
    const std::string way = GetParam().way;
    if (way == "link") {
        fs::create_directory_symlink(outside.Path(), install.Path() / "tmp");
    } else if (way == "linked parent") {  // staged in a directory below a link that leads out
        fs::create_directory_symlink(outside.Path(), install.Path() / "cache");
        install.Configure(nginx->Port(), "", "cache/tmp");
    } else {
        install.Configure(nginx->Port(), "", way + outside.Path().filename().string());
    }
    const UpdaterRun run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_NE(run.errors.find("提示: "), std::string::npos) << "refused without a word";
    EXPECT_TRUE(fs::is_empty(outside.Path()));
    ExpectNothingInstalled();
}

INSTANTIATE_TEST_SUITE_P(Setup, TempDirOutsideTest,
                         ::testing::Values(Outside{"Parent", "../"}, Outside{"ParentThroughTmp", "tmp/../../"},
                                           Outside{"TmpIsALink", "link"}, Outside{"BelowALink", "linked parent"}),
                         [](const ::testing::TestParamInfo<Outside>& info) { return info.param.name; });

}  // namespace
