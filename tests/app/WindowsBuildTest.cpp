// The Windows build run from here under Wine, against what Linux serves and makes. A release
// published on one system installs on the other: kesu-publish.exe makes a signed tree (with a
// package and patches) that the Linux updater installs, and the Linux publisher's tree installs
// with KesuUpdate.exe. And KesuUpdate.exe checks an HTTPS server against the authority it is
// given. Skipped where the Windows build (tools/windows.sh) or Wine is not there.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sys/stat.h>

#include "tests/app/UpdaterHarness.h"
#include "tests/support/MinisignTool.h"
#include "tests/support/Nginx.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/UpdaterProcess.h"
#include "tests/support/Wine.h"
#include "tests/support/Xvfb.h"

namespace fs = std::filesystem;

namespace {

class WindowsBuildTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::optional<std::string> missing = WindowsBuildMissing())
            GTEST_SKIP() << *missing;
        if (NginxBinary().empty() || !XvfbInstalled() || !OpensslInstalled())
            GTEST_SKIP() << "nginx, Xvfb or openssl is not installed";
        x = std::make_unique<Xvfb>();
        build.Write("readme.txt", "read me, version 2 " + std::string(4000, 'r'));
        build.Write("data/map/town.dat", std::string(50000, 't'));
        build.Write("\xE5\x90\x8D\xE5\xAD\x97 \xE5\xB8\xA6\xE7\xA9\xBA\xE6\xA0\xBC.txt", "chinese & blank");  // 名字 带空格.txt
        previous.Write("readme.txt", "read me, version 1 " + std::string(4000, 'r'));
        keys = MakeMinisignKeys(this->keyDir.Path(), "kesu");
        publicKey = ReadWholeFile(keys.publicKey);
        publicKey = publicKey.substr(publicKey.find('\n') + 1);
        publicKey = publicKey.substr(0, publicKey.find('\n'));
        ::chmod(site.Path().c_str(), 0755);
    }

    std::vector<std::string> PublishArguments() const
    {
        return {"--package", "--sign", keys.secretKey.string(), "--previous", previous.Path().string(),
                build.Path().string(), (site.Path() / "update").string()};
    }
    // A program of the Windows build run under Wine, in `directory`, on the test's X server.
    ToolRun RunWindowsProgram(const fs::path& directory, const fs::path& program, const std::vector<std::string>& arguments) const
    {
        return RunUnderWine({.directory = directory, .program = program, .arguments = arguments, .display = x->Display()});
    }
    void Configure(const TempDir& install, int port) const
    {
        install.Write("pirvex.dll", "[Download]\r\nsite1=127.0.0.1:" + std::to_string(port) +
                                        "\r\n[Setup]\r\nTempDir=tmp\r\n[Security]\r\nPublicKey=" + publicKey + "\r\n");
    }
    void ExpectInstalled(const TempDir& install) const
    {
        EXPECT_EQ(ReadWholeFile(install.Path() / "readme.txt"), ReadWholeFile(build.Path() / "readme.txt"));
        EXPECT_EQ(ReadWholeFile(install.Path() / "data/map/town.dat"), std::string(50000, 't'));
        EXPECT_EQ(ReadWholeFile(install.Path() / "\xE5\x90\x8D\xE5\xAD\x97 \xE5\xB8\xA6\xE7\xA9\xBA\xE6\xA0\xBC.txt"), "chinese & blank");
    }

    std::unique_ptr<Xvfb> x;
    TempDir build, previous, site, keyDir;
    MinisignKeyFiles keys;
    std::string publicKey;
};

TEST_F(WindowsBuildTest, WhatTheWindowsPublisherWritesTheLinuxUpdaterInstalls)
{
    const ToolRun published = RunWindowsProgram(build.Path(), WindowsBuild() / "kesu-publish.exe", PublishArguments());
    ASSERT_EQ(published.status, 0) << published.output;
    EXPECT_TRUE(fs::exists(site.Path() / "update/update.xml.minisig"));
    EXPECT_TRUE(fs::exists(site.Path() / "update/update.zip.minisig"));
    EXPECT_FALSE(fs::is_empty(site.Path() / "update/patches"));
    Nginx nginx(site.Path().string());

    TempDir install;
    fs::copy_file(KESU_EXE, install.Path() / "KesuUpdate.exe");
    install.Write("readme.txt", ReadWholeFile(previous.Path() / "readme.txt"));  // patched, not fetched whole
    Configure(install, nginx.Port());
    const UpdaterOutput run = RunUpdater(install.Path());
    ASSERT_EQ(run.status, 0) << run.output;
    ExpectInstalled(install);
    EXPECT_NE(ReadWholeFile(install.Path() / "tmp/KesuUpdate.log").find("patch"), std::string::npos);

    TempDir packaged;
    fs::copy_file(KESU_EXE, packaged.Path() / "KesuUpdate.exe");
    Configure(packaged, nginx.Port());
    ASSERT_EQ(RunUpdater(packaged.Path(), {.arguments = {"update.dat", "1", "2", "-install"}}).status, 0);
    ExpectInstalled(packaged);
}

TEST_F(WindowsBuildTest, WhatTheLinuxPublisherWritesTheWindowsUpdaterInstalls)
{
    const ToolRun published = RunTool(build.Path(), KESU_PUBLISH_EXE, PublishArguments());
    ASSERT_EQ(published.status, 0) << published.output;
    Nginx nginx(site.Path().string());

    TempDir install;
    fs::copy_file(WindowsBuild() / "KesuUpdate.exe", install.Path() / "KesuUpdate.exe");
    install.Write("readme.txt", ReadWholeFile(previous.Path() / "readme.txt"));
    Configure(install, nginx.Port());
    const ToolRun run = RunWindowsProgram(install.Path(), install.Path() / "KesuUpdate.exe", {});
    const std::string log = ReadWholeFile(install.Path() / "tmp/KesuUpdate.log");
    ASSERT_EQ(run.status, 0) << log;
    ExpectInstalled(install);
    EXPECT_NE(log.find(" end: the update is installed"), std::string::npos) << log;

    TempDir packaged;
    fs::copy_file(WindowsBuild() / "KesuUpdate.exe", packaged.Path() / "KesuUpdate.exe");
    Configure(packaged, nginx.Port());
    ASSERT_EQ(RunWindowsProgram(packaged.Path(), packaged.Path() / "KesuUpdate.exe", {"update.dat", "1", "2", "-install"}).status, 0);
    ExpectInstalled(packaged);
}

// KesuUpdate.exe hands the authority a file names to Windows' TLS, which then refuses a server
// another authority vouches for. Wine cannot show the other half: its TLS accepts any
// certificate when no file is named, and with one it builds no chain to the file's authority
// (CERT_TRUST_IS_PARTIAL_CHAIN), so it refuses the right server too.
TEST_F(WindowsBuildTest, KesuUpdateRefusesAServerTheNamedAuthorityDoesNotVouchFor)
{
    const TestCertificates server, other;
    site.Write("https/update/readme.txt", "over https");
    site.Write("https/update/update.xml", Manifest(ManifestEntry("readme.txt", "over https")));
    Nginx nginx((site.Path() / "https").string(), "", 0, NginxTls{server.ServerCertificate(), server.ServerKey()});
    TempDir install;
    fs::copy_file(WindowsBuild() / "KesuUpdate.exe", install.Path() / "KesuUpdate.exe");
    // Wine matches no address in a certificate: the server is named.
    install.Write("pirvex.dll", "[Download]\r\nsite1=https://localhost:" + std::to_string(nginx.Port()) +
                                    "\r\n[Setup]\r\nTempDir=tmp\r\n");
    const fs::path log = install.Path() / "tmp/KesuUpdate.log";
    // The manifest's request told in the log: the box that follows a failure is not answered.
    auto told = [&] { return fs::exists(log) && ReadWholeFile(log).find("/update/update.xml: ") != std::string::npos; };
    RunUnderWineUntil({.directory = install.Path(), .program = install.Path() / "KesuUpdate.exe", .display = x->Display(),
                       .environment = {"CURL_CA_BUNDLE=" + other.AuthorityFile().string(), "SSL_CERT_FILE=", "SSL_CERT_DIR="}},
                      told, std::chrono::seconds(60));
    ASSERT_TRUE(told());
    EXPECT_NE(ReadWholeFile(log).find("/update/update.xml: SSL"), std::string::npos) << ReadWholeFile(log);
    EXPECT_FALSE(fs::exists(install.Path() / "readme.txt"));
}

}  // namespace
