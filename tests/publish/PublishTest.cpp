// The publisher: what it writes, what it refuses, that the updater installs its tree, and that
// minisign accepts its signatures.

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "archive/UnzipPackage.h"
#include "digest/MD5Checksum.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "tests/support/Environment.h"
#include "tests/support/MinisignTool.h"
#include "tests/support/RunTool.h"
#include "tests/support/SymbolicLinks.h"
#include "tests/support/TempDir.h"
#include "publish/Publisher.h"
#include "publish/Signer.h"
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>

#include "tests/support/Nginx.h"
#include "tests/support/UpdaterProcess.h"
#endif

namespace fs = std::filesystem;

namespace {

// Every file under the directory with its contents, to tell whether anything changed.
std::map<std::string, std::string> Snapshot(const fs::path& dir)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file())
            files[entry.path().lexically_relative(dir).string()] = ReadWholeFile(entry.path());
    return files;
}

TrustedComment CommentOf(const fs::path& minisig)
{
    std::optional<MinisignSignature> signature = ParseMinisignSignature(ReadWholeFile(minisig));
    return signature ? ParseTrustedComment(signature->trustedComment) : TrustedComment{};
}

// The manifest's line for the file.
std::string EntryOf(const std::string& manifest, const std::string& name)
{
    const std::size_t at = manifest.find("filename=\"" + name + "\"");
    return at == std::string::npos ? "" : manifest.substr(at, manifest.find('\n', at) - at);
}

constexpr const char* kChineseName = "名字 带空格.txt";

std::uint64_t InodeOf(const fs::path& path)
{
    const std::optional<FileStatus> status = GetFileStatus(Utf8OfPath(path));
    return status ? status->facts.nInode : 0;
}

class PublishTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        build.Write("KesuUpdate.exe", "program");
#ifndef _WIN32
        ::chmod((build.Path() / "KesuUpdate.exe").c_str(), 0755);
#endif
        build.Write("readme.txt", "read me");
        build.Write("data/map/town.dat", std::string(50000, 't'));
        build.Write("data/debug.pdb", "symbols");
        std::ofstream(build.Path() / PathFromUtf8(kChineseName)) << "chinese & blank";
        links = SymbolicLinksCanBeMade(build.Path());  // else the build has no linked.txt
        if (links)
            fs::create_symlink("readme.txt", build.Path() / "linked.txt");
    }
    PublishOptions Options(const fs::path& tree, bool package = false)
    {
        PublishOptions options;
        options.buildDir = build.Path().string();
        options.treeDir = tree.string();
        options.excludes = {"*.pdb"};
        options.version = "2.0";
        options.package = package;
        return options;
    }
    PublishResult Run(const fs::path& tree, bool package = false) { return Publish(Options(tree, package)); }

    TempDir build;
    TempDir out;
    bool links = false;
};

TEST_F(PublishTest, WritesTheFilesAndASortedManifestOfThem)
{
    PublishResult result = Run(out.Path() / "update");
    ASSERT_EQ(result.error, std::nullopt);
    std::vector<std::string> names;
    for (const auto& file : result.files)
        names.push_back(file.name);
    std::vector<std::string> expected{"KesuUpdate.exe", "data\\map\\town.dat", "readme.txt", kChineseName};
    if (links)
        expected.insert(expected.begin() + 2, "linked.txt");
    EXPECT_EQ(names, expected);
    EXPECT_EQ(ReadWholeFile(out.Path() / "update/data/map/town.dat"), std::string(50000, 't'));
    if (links) {
        EXPECT_EQ(ReadWholeFile(out.Path() / "update/linked.txt"), "read me");
    }
    EXPECT_FALSE(fs::exists(out.Path() / "update/data/debug.pdb"));
    std::string manifest = ReadWholeFile(out.Path() / "update/update.xml");
    EXPECT_NE(manifest.find("<file filename=\"data\\map\\town.dat\" filesize=\"50000\" fileversion=\"2.0\" md5=\"" +
                            CMD5Checksum::HashFile((build.Path() / "data/map/town.dat").string()) + "\" sha256=\""),
              std::string::npos)
        << manifest;
    EXPECT_NE(manifest.find("filename=\"名字 带空格.txt\""), std::string::npos);
    EXPECT_EQ(manifest, ManifestText(result.files, "2.0"));
}

TEST_F(PublishTest, TheSameInputGivesTheSameBytes)
{
    ASSERT_EQ(Run(out.Path() / "a", true).error, std::nullopt);
    ASSERT_EQ(Run(out.Path() / "b", true).error, std::nullopt);
    EXPECT_EQ(ReadWholeFile(out.Path() / "a/update.xml"), ReadWholeFile(out.Path() / "b/update.xml"));
    EXPECT_EQ(ReadWholeFile(out.Path() / "a/update.zip"), ReadWholeFile(out.Path() / "b/update.zip"));
}

TEST_F(PublishTest, AnEarlierTreeKeepsItsUnchangedFiles)
{
    ASSERT_EQ(Run(out.Path() / "update").error, std::nullopt);
    const std::uint64_t before = InodeOf(out.Path() / "update/readme.txt");
    build.Write("data/map/town.dat", std::string(50000, 'u'));
    PublishResult again = Run(out.Path() / "update");
    ASSERT_EQ(again.error, std::nullopt);
    for (const auto& file : again.files)
        EXPECT_EQ(file.written, file.name == "data\\map\\town.dat") << file.name;
    EXPECT_EQ(InodeOf(out.Path() / "update/readme.txt"), before);
    EXPECT_EQ(ReadWholeFile(out.Path() / "update/data/map/town.dat"), std::string(50000, 'u'));
}

TEST_F(PublishTest, RefusesWhatTheUpdaterWouldRefuse)
{
    if (links) {
        TempDir outside;
        outside.Write("secret", "x");
        fs::create_symlink(outside.Path() / "secret", build.Path() / "escape");
        EXPECT_NE(Run(out.Path() / "update").error.value_or("").find("escape: the link leads outside"), std::string::npos);
        fs::remove(build.Path() / "escape");
    }

#ifndef _WIN32  // Windows' names hold neither a backslash nor GBK bytes
    build.Write("back\\slash.txt", "x");
    EXPECT_NE(Run(out.Path() / "update").error.value_or("").find("backslash"), std::string::npos);
    fs::remove(build.Path() / "back\\slash.txt");

    const std::string gbkName = "\xD3\xCE\xCF\xB7.dat";  // 游戏 in GBK, which no UTF-8 reader takes
    build.Write(gbkName, "x");
    const std::string gbkError = Run(out.Path() / "update").error.value_or("");
    EXPECT_NE(gbkError.find("not UTF-8"), std::string::npos) << gbkError;
    fs::remove(build.Path() / gbkName);
#endif

    build.Write("Reg.Local", "x");
    EXPECT_NE(Run(out.Path() / "update").error.value_or("").find("Reg.Local"), std::string::npos);
    EXPECT_FALSE(fs::exists(out.Path() / "update/update.xml"));  // nothing half-published
}

// The players' installations are on Windows: the studio hears of a name the updater would refuse
// there when it publishes, and nothing is published.
TEST_F(PublishTest, RefusesNamesWindowsCannotHold)
{
#ifdef _WIN32
    GTEST_SKIP() << "a build tree on Windows cannot hold these names: the studio publishing there never has them";
#endif
    build.Write("sounds/nul.d/x.wav", "x");
    EXPECT_EQ(Run(out.Path() / "update", true).error,
              "sounds/nul.d/x.wav: its name cannot be a file's on Windows: \"nul.d\" is the name of a device on Windows");
    fs::remove_all(build.Path() / "sounds");

    // The updater installs them as Windows stores them, under another name than the build's.
    build.Write("maps/old ./town.dat.", "x");
    EXPECT_EQ(Run(out.Path() / "update", true).error,
              "maps/old ./town.dat.: Windows drops the dots and blanks its name's parts end in: players would get "
              "maps/old/town.dat");
    fs::remove_all(build.Path() / "maps");

    build.Write("Readme.txt", "another read me");
    EXPECT_EQ(Run(out.Path() / "update", true).error,
              "readme.txt: its name differs from Readme.txt in letter case alone, and Windows holds both as one file");
    EXPECT_FALSE(fs::exists(out.Path() / "update"));  // nothing half-published
}

TEST_F(PublishTest, ThePackageKeepsModesAndTimes)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows keeps no permission bits for a package to carry";
#else
    struct timespec times[2] = {{1600000000, 0}, {1600000000, 0}};
    ::utimensat(AT_FDCWD, (build.Path() / "KesuUpdate.exe").c_str(), times, 0);
    ASSERT_EQ(Run(out.Path() / "update", true).error, std::nullopt);
    std::vector<std::string> names;
    ASSERT_EQ(UnzipPackage((out.Path() / "update/update.zip").string(), (out.Path() / "unpacked").string(), names), ZipResult::Ok);
    struct stat st {};
    ASSERT_EQ(::stat((out.Path() / "unpacked/KesuUpdate.exe").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    EXPECT_EQ(st.st_mtime, 1600000000);
    EXPECT_EQ(ReadWholeFile(out.Path() / "unpacked/data/map/town.dat"), std::string(50000, 't'));
#endif
}

TEST_F(PublishTest, TheUpdaterInstallsAPublishedTreeFromNginx)
{
#ifdef _WIN32
    GTEST_SKIP() << "the Windows build makes no updater program yet";
#else
    if (NginxBinary().empty())
        GTEST_SKIP() << "nginx is not installed";
    // The updater takes a new copy of itself only when it is a program for this machine.
    fs::copy_file("/bin/true", build.Path() / "KesuUpdate.exe", fs::copy_options::overwrite_existing);
    ASSERT_EQ(Run(out.Path() / "site/update", true).error, std::nullopt);
    ::chmod(out.Path().c_str(), 0755);
    Nginx nginx((out.Path() / "site").string());
    TempDir install;
    fs::copy_file(KESU_EXE, install.Path() / "KesuUpdate.exe");
    install.Write("pirvex.dll", "[Download]\nsite1=127.0.0.1:" + std::to_string(nginx.Port()) + "\n[Setup]\nTempDir=tmp\n");
    ASSERT_EQ(RunUpdater(install.Path()).status, 0);
    EXPECT_EQ(ReadWholeFile(install.Path() / "data/map/town.dat"), std::string(50000, 't'));
    EXPECT_EQ(ReadWholeFile(install.Path() / "名字 带空格.txt"), "chinese & blank");
    EXPECT_EQ(ReadWholeFile(install.Path() / "KesuUpdate.exe"), ReadWholeFile("/bin/true"));  // the self-update, too
    EXPECT_TRUE(fs::exists(install.Path() / "KesuUpdate_old.exe"));

    TempDir packaged;
    fs::copy_file(KESU_EXE, packaged.Path() / "KesuUpdate.exe");
    fs::copy_file(install.Path() / "pirvex.dll", packaged.Path() / "pirvex.dll");
    ASSERT_EQ(RunUpdater(packaged.Path(), {.arguments = {"update.dat", "1", "2", "-install"}}).status, 0);
    EXPECT_EQ(ReadWholeFile(packaged.Path() / "readme.txt"), "read me");
#endif
}

TEST_F(PublishTest, EveryEntryCarriesTheSha256OfItsFile)
{
    PublishResult result = Run(out.Path() / "update");
    ASSERT_EQ(result.error, std::nullopt);
    std::vector<std::string> paths;
    for (const auto& file : result.files) {
        std::string path = file.name;
        std::replace(path.begin(), path.end(), '\\', '/');
        paths.push_back(path);
    }
    ToolRun sums = RunTool(build.Path(), "sha256sum", paths);
    ASSERT_EQ(sums.status, 0) << sums.output;
    const std::string manifest = ReadWholeFile(out.Path() / "update/update.xml");
    std::istringstream lines(sums.output);
    for (std::size_t i = 0; i < result.files.size(); ++i) {
        const PublishedFile& file = result.files[i];
        std::string sum, path;
        lines >> sum;
        std::getline(lines >> std::ws, path);
        EXPECT_EQ(path, paths[i]);
        const std::string digests = " md5=\"" + file.md5 + "\" sha256=\"" + sum + "\"";
        EXPECT_NE(EntryOf(manifest, file.name).find(digests), std::string::npos)
            << EntryOf(manifest, file.name) << " against " << sum << " " << path;
    }
    // Files that did not change are hashed on another path: the same manifest comes out.
    ASSERT_EQ(Run(out.Path() / "update").error, std::nullopt);
    EXPECT_EQ(ReadWholeFile(out.Path() / "update/update.xml"), manifest);
}

TEST_F(PublishTest, FilesWithAnExecuteBitCarryTheirModeOthersNone)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows keeps no execute bits";
#else
    build.Write("bin/run.sh", "#!/bin/sh\n");
    ::chmod((build.Path() / "bin/run.sh").c_str(), 0710);
    ::chmod((build.Path() / "readme.txt").c_str(), 0640);
    ASSERT_EQ(Run(out.Path() / "update").error, std::nullopt);
    const std::string manifest = ReadWholeFile(out.Path() / "update/update.xml");
    EXPECT_TRUE(EntryOf(manifest, "KesuUpdate.exe").ends_with("\" mode=\"755\"/>")) << manifest;
    EXPECT_TRUE(EntryOf(manifest, "bin\\run.sh").ends_with("\" mode=\"710\"/>")) << manifest;
    EXPECT_EQ(EntryOf(manifest, "readme.txt").find("mode="), std::string::npos) << manifest;
#endif
}

TEST_F(PublishTest, MinisignAcceptsTheSignaturesOfTheManifestAndThePackage)
{
    TempDir keys;
    const MinisignKeyFiles key = MakeMinisignKeys(keys.Path(), "publisher");
    const fs::path tree = out.Path() / "update";
    PublishOptions options = Options(tree, true);
    options.signingKey = key.secretKey.string();
    options.expiresAfter = 30 * 86400;
    const auto before = static_cast<std::uint64_t>(std::time(nullptr));
    ASSERT_EQ(Publish(options).error, std::nullopt);
    const auto after = static_cast<std::uint64_t>(std::time(nullptr));

    for (const std::string name : {"update.xml", "update.zip"}) {
        ToolRun run = RunMinisign(tree, {"-V", "-p", key.publicKey.string(), "-m", name});
        EXPECT_EQ(run.status, 0) << name << ": " << run.output;
        const TrustedComment comment = CommentOf(tree / (name + ".minisig"));
        EXPECT_EQ(comment.file, name);
        ASSERT_TRUE(comment.timestamp && comment.expires) << name;
        EXPECT_TRUE(*comment.timestamp >= before && *comment.timestamp <= after) << *comment.timestamp;
        EXPECT_EQ(*comment.expires, *comment.timestamp + 30 * 86400);
    }
    for (const auto& [path, contents] : Snapshot(tree))
        EXPECT_FALSE(path.ends_with(".part")) << path;  // no temporary file is left
}

TEST_F(PublishTest, AnEncryptedKeyTakesItsPassphraseFromTheEnvironment)
{
    UnsetEnvironment("KESU_SIGN_PASSPHRASE");
    TempDir keys;
    const MinisignKeyFiles key = MakeMinisignKeys(keys.Path(), "publisher", "the passphrase");
    const fs::path tree = out.Path() / "update";
    ASSERT_EQ(Run(tree, true).error, std::nullopt);  // an earlier publication
    build.Write("readme.txt", "read me again");
    const auto earlier = Snapshot(tree);
    const std::vector<std::string> arguments{"--package", "--sign", key.secretKey.string(), "--expires", "12h",
                                             build.Path().string(), tree.string()};

    ToolRun wrong = RunTool(out.Path(), KESU_PUBLISH_EXE, arguments, "", {"KESU_SIGN_PASSPHRASE=not it"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.output, "kesu-publish: " + key.secretKey.string() + ": wrong passphrase\n");
    EXPECT_EQ(Snapshot(tree), earlier);

    ToolRun unasked = RunTool(out.Path(), KESU_PUBLISH_EXE, arguments);  // no variable, no terminal
    EXPECT_EQ(unasked.status, 1);
    EXPECT_NE(unasked.output.find("set KESU_SIGN_PASSPHRASE or run from a terminal"), std::string::npos)
        << unasked.output;
    EXPECT_EQ(Snapshot(tree), earlier);

    ToolRun right = RunTool(out.Path(), KESU_PUBLISH_EXE, arguments, "", {"KESU_SIGN_PASSPHRASE=the passphrase"});
    ASSERT_EQ(right.status, 0) << right.output;
    EXPECT_EQ(ReadWholeFile(tree / "readme.txt"), "read me again");
    EXPECT_EQ(RunMinisign(tree, {"-V", "-p", key.publicKey.string(), "-m", "update.zip"}).status, 0);
    const TrustedComment comment = CommentOf(tree / "update.xml.minisig");
    ASSERT_TRUE(comment.timestamp && comment.expires);
    EXPECT_EQ(*comment.expires, *comment.timestamp + 12 * 3600);
}

TEST_F(PublishTest, ExpiryNeedsASignatureAndADuration)
{
    const std::string tree = (out.Path() / "update").string();
    ToolRun withoutSign = RunTool(out.Path(), KESU_PUBLISH_EXE, {"--expires", "30d", build.Path().string(), tree});
    EXPECT_EQ(withoutSign.status, 2);
    EXPECT_EQ(withoutSign.output, "kesu-publish: --expires is for signatures: it needs --sign\n");
    ToolRun badDuration =
        RunTool(out.Path(), KESU_PUBLISH_EXE, {"--sign", "k.key", "--expires", "1 week", build.Path().string(), tree});
    EXPECT_EQ(badDuration.status, 2);
    EXPECT_NE(badDuration.output.find("not a duration"), std::string::npos) << badDuration.output;
    EXPECT_FALSE(fs::exists(tree));

    EXPECT_EQ(ParseDuration("30d"), 30u * 86400);
    EXPECT_EQ(ParseDuration("12h"), 12u * 3600);
    EXPECT_EQ(ParseDuration("90m"), 90u * 60);
    EXPECT_EQ(ParseDuration("3600s"), 3600u);
    EXPECT_EQ(ParseDuration("3600"), 3600u);
    for (const char* refused : {"", "d", "0", "0h", "-1d", "+1d", "1w", "1.5h", "30 d", "12H", "99999999999999d"})
        EXPECT_FALSE(ParseDuration(refused)) << refused;
}

}  // namespace
