// The publisher: what it writes, what it refuses, and that the updater installs its tree.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>

#include "archive/UnzipPackage.h"
#include "download/MD5Checksum.h"
#include "tests/support/Nginx.h"
#include "tests/support/TempDir.h"
#include "tools/publish/Publisher.h"

namespace fs = std::filesystem;

namespace {

class PublishTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        build.Write("KesuUpdate.exe", "program");
        ::chmod((build.Path() / "KesuUpdate.exe").c_str(), 0755);
        build.Write("readme.txt", "read me");
        build.Write("data/map/town.dat", std::string(50000, 't'));
        build.Write("data/debug.pdb", "symbols");
        build.Write("名字 带空格.txt", "chinese & blank");
        fs::create_symlink("readme.txt", build.Path() / "linked.txt");
    }
    PublishResult Run(const fs::path& tree, bool package = false)
    {
        PublishOptions options;
        options.buildDir = build.Path().string();
        options.treeDir = tree.string();
        options.excludes = {"*.pdb"};
        options.version = "2.0";
        options.package = package;
        return Publish(options);
    }

    TempDir build;
    TempDir out;
};

TEST_F(PublishTest, WritesTheFilesAndASortedManifestOfThem)
{
    PublishResult result = Run(out.Path() / "update");
    ASSERT_EQ(result.error, "");
    std::vector<std::string> names;
    for (const auto& file : result.files)
        names.push_back(file.name);
    EXPECT_EQ(names, (std::vector<std::string>{"KesuUpdate.exe", "data\\map\\town.dat", "linked.txt", "readme.txt",
                                               "名字 带空格.txt"}));
    EXPECT_EQ(ReadWholeFile(out.Path() / "update/data/map/town.dat"), std::string(50000, 't'));
    EXPECT_EQ(ReadWholeFile(out.Path() / "update/linked.txt"), "read me");
    EXPECT_FALSE(fs::exists(out.Path() / "update/data/debug.pdb"));
    std::string manifest = ReadWholeFile(out.Path() / "update/update.xml");
    EXPECT_NE(manifest.find("<file filename=\"data\\map\\town.dat\" filesize=\"50000\" fileversion=\"2.0\" md5=\"" +
                            CMD5Checksum::HashFile((build.Path() / "data/map/town.dat").string()) + "\"/>"),
              std::string::npos)
        << manifest;
    EXPECT_NE(manifest.find("filename=\"名字 带空格.txt\""), std::string::npos);
    EXPECT_EQ(manifest, ManifestText(result.files, "2.0"));
}

TEST_F(PublishTest, TheSameInputGivesTheSameBytes)
{
    ASSERT_EQ(Run(out.Path() / "a", true).error, "");
    ASSERT_EQ(Run(out.Path() / "b", true).error, "");
    EXPECT_EQ(ReadWholeFile(out.Path() / "a/update.xml"), ReadWholeFile(out.Path() / "b/update.xml"));
    EXPECT_EQ(ReadWholeFile(out.Path() / "a/update.zip"), ReadWholeFile(out.Path() / "b/update.zip"));
}

TEST_F(PublishTest, AnEarlierTreeKeepsItsUnchangedFiles)
{
    ASSERT_EQ(Run(out.Path() / "update").error, "");
    struct stat before {};
    ::stat((out.Path() / "update/readme.txt").c_str(), &before);
    build.Write("data/map/town.dat", std::string(50000, 'u'));
    PublishResult again = Run(out.Path() / "update");
    ASSERT_EQ(again.error, "");
    for (const auto& file : again.files)
        EXPECT_EQ(file.written, file.name == "data\\map\\town.dat") << file.name;
    struct stat after {};
    ::stat((out.Path() / "update/readme.txt").c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(ReadWholeFile(out.Path() / "update/data/map/town.dat"), std::string(50000, 'u'));
}

TEST_F(PublishTest, RefusesWhatTheUpdaterWouldRefuse)
{
    TempDir outside;
    outside.Write("secret", "x");
    fs::create_symlink(outside.Path() / "secret", build.Path() / "escape");
    EXPECT_NE(Run(out.Path() / "update").error.find("escape: the link leads outside"), std::string::npos);
    fs::remove(build.Path() / "escape");

    build.Write("back\\slash.txt", "x");
    EXPECT_NE(Run(out.Path() / "update").error.find("backslash"), std::string::npos);
    fs::remove(build.Path() / "back\\slash.txt");

    build.Write("Reg.Local", "x");
    EXPECT_NE(Run(out.Path() / "update").error.find("Reg.Local"), std::string::npos);
    EXPECT_FALSE(fs::exists(out.Path() / "update/update.xml"));  // nothing half-published
}

TEST_F(PublishTest, ThePackageKeepsModesAndTimes)
{
    struct timespec times[2] = {{1600000000, 0}, {1600000000, 0}};
    ::utimensat(AT_FDCWD, (build.Path() / "KesuUpdate.exe").c_str(), times, 0);
    ASSERT_EQ(Run(out.Path() / "update", true).error, "");
    std::vector<std::string> names;
    ASSERT_EQ(UnzipPackage((out.Path() / "update/update.zip").string(), (out.Path() / "unpacked").string(), names), 0);
    struct stat st {};
    ASSERT_EQ(::stat((out.Path() / "unpacked/KesuUpdate.exe").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    EXPECT_EQ(st.st_mtime, 1600000000);
    EXPECT_EQ(ReadWholeFile(out.Path() / "unpacked/data/map/town.dat"), std::string(50000, 't'));
}

TEST_F(PublishTest, TheUpdaterInstallsAPublishedTreeFromNginx)
{
    if (NginxBinary().empty())
        GTEST_SKIP() << "nginx is not installed";
    // The updater takes a new copy of itself only when it is a program for this machine.
    fs::copy_file("/bin/true", build.Path() / "KesuUpdate.exe", fs::copy_options::overwrite_existing);
    ASSERT_EQ(Run(out.Path() / "site/update", true).error, "");
    ::chmod(out.Path().c_str(), 0755);
    Nginx nginx((out.Path() / "site").string());
    TempDir install;
    fs::copy_file(KESU_EXE, install.Path() / "KesuUpdate.exe");
    install.Write("pirvex.dll", "[Download]\nsite1=127.0.0.1:" + std::to_string(nginx.Port()) + "\n[Setup]\nTempDir=tmp\n");
    std::string command = "cd '" + install.Path().string() + "' && env -u DISPLAY ./KesuUpdate.exe 2>/dev/null";
    ASSERT_EQ(WEXITSTATUS(std::system(command.c_str())), 0);
    EXPECT_EQ(ReadWholeFile(install.Path() / "data/map/town.dat"), std::string(50000, 't'));
    EXPECT_EQ(ReadWholeFile(install.Path() / "名字 带空格.txt"), "chinese & blank");
    EXPECT_EQ(ReadWholeFile(install.Path() / "KesuUpdate.exe"), ReadWholeFile("/bin/true"));  // the self-update, too
    EXPECT_TRUE(fs::exists(install.Path() / "KesuUpdate_old.exe"));

    TempDir packaged;
    fs::copy_file(KESU_EXE, packaged.Path() / "KesuUpdate.exe");
    fs::copy_file(install.Path() / "pirvex.dll", packaged.Path() / "pirvex.dll");
    command = "cd '" + packaged.Path().string() + "' && env -u DISPLAY ./KesuUpdate.exe update.dat 1 2 -install 2>/dev/null";
    ASSERT_EQ(WEXITSTATUS(std::system(command.c_str())), 0);
    EXPECT_EQ(ReadWholeFile(packaged.Path() / "readme.txt"), "read me");
}

}  // namespace
