#include <gtest/gtest.h>

#include <unistd.h>

#include "app/Startup.h"
#include "tests/support/TempDir.h"

namespace {

TEST(StartupTest, BaseUrlTable)
{
    EXPECT_EQ(BuildBaseURL("updates.example.net"), "http://updates.example.net/update/");
    EXPECT_EQ(BuildBaseURL("http://updates.example.net/game7"), "http://updates.example.net/game7/update/");
    EXPECT_EQ(BuildBaseURL("https://secure.example.net"), "https://secure.example.net/update/");
    EXPECT_EQ(BuildBaseURL("HTTP://upper.example.net"), "http://HTTP://upper.example.net/update/");
    EXPECT_EQ(BuildBaseURL("http:/"), "http://http://update/");
    EXPECT_EQ(BuildBaseURL("127.0.0.1:8080"), "http://127.0.0.1:8080/update/");
    EXPECT_EQ(BuildBaseURL(""), "http:///update/");
}

TEST(StartupTest, DirectoriesFromTheExecutableAndTheSetting)
{
    EXPECT_EQ(InstallDirFromExePath("/opt/game/KesuUpdate.exe"), "/opt/game/");
    EXPECT_EQ(InstallDirFromExePath("/KesuUpdate.exe"), "/");
    EXPECT_EQ(BuildTempDir("/opt/game/", "tmp"), "/opt/game/tmp");
    EXPECT_EQ(BuildTempDir("/opt/game/", ""), "/opt/game/");
    EXPECT_EQ(BuildTempDir("/opt/game/", "\\dl\\"), "/opt/game/\\dl\\");
}

// Runs in a directory of its own: the settings file is found relative to the current directory.
class StartupRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
        ASSERT_EQ(::chdir(cwd.Path().c_str()), 0);
    }
    void TearDown() override { ASSERT_EQ(::chdir(previous), 0); }

    char previous[4096] = {};
    TempDir cwd;
    TempDir install;
};

TEST_F(StartupRunTest, ValuesComeFromTheCommandLineTheSettingsAndTheExecutable)
{
    cwd.Write("pirvex.dll", "[Download]\r\nsite1=127.0.0.1:8080\r\nsite2=https://mirror.example\r\nsite3=10.0.0.3\r\n"
                            "site5=after.a.gap\r\n[Setup]\r\nTempDir=tmp\r\n");
    StartupValues values = LoadStartupValues("Game7.dat 12 34 -install", install.Dir() + "KesuUpdate.exe");
    EXPECT_EQ(values.run.strInstallDir, install.Dir());
    EXPECT_EQ(values.run.strBaseURL, "http://127.0.0.1:8080/update/");
    EXPECT_EQ(values.run.mirrorBaseURLs, (std::vector<std::string>{"https://mirror.example/update/", "http://10.0.0.3/update/"}));
    EXPECT_EQ(values.run.strTempDir, install.Dir() + "tmp");
    EXPECT_EQ(values.run.strManifestName, "Game7.xml");
    EXPECT_EQ(values.nLobbyParam1, 12);
    EXPECT_EQ(values.nLobbyParam2, 34);
    EXPECT_FALSE(values.run.bManifestMode);
    EXPECT_EQ(values.strOldExeName, "KesuUpdate_old.exe");
    EXPECT_TRUE(values.run.bCheckCache);
    EXPECT_TRUE(values.run.bDigestQuery);
    EXPECT_EQ(values.run.nConnections, 8u);

    cwd.Write("pirvex.dll", "[Download]\r\nDigestQuery=0\r\nConnections=3\r\n[Setup]\r\nCheckCache=0\r\n");
    values = LoadStartupValues("", install.Dir() + "KesuUpdate.exe");
    EXPECT_FALSE(values.run.bCheckCache);
    EXPECT_FALSE(values.run.bDigestQuery);
    EXPECT_EQ(values.run.nConnections, 3u);
    // Held to what makes sense: at least one connection, at most sixteen.
    for (const auto& [text, connections] : {std::pair{"0", 1u}, {"-4", 1u}, {"99", 16u}, {"many", 1u}}) {
        cwd.Write("pirvex.dll", std::string("[Download]\r\nConnections=") + text + "\r\n");
        EXPECT_EQ(LoadStartupValues("", install.Dir() + "KesuUpdate.exe").run.nConnections, connections) << text;
    }
}

TEST_F(StartupRunTest, WithoutASettingsFileEveryValueIsEmpty)
{
    StartupValues values = LoadStartupValues("", install.Dir() + "KesuUpdate.exe");
    EXPECT_EQ(values.run.strBaseURL, "http:///update/");
    EXPECT_EQ(values.run.strTempDir, install.Dir());
    EXPECT_EQ(values.run.strManifestName, "update.xml");
    EXPECT_EQ(values.nLobbyParam1, -1);
    EXPECT_EQ(values.nLobbyParam2, -1);
    EXPECT_TRUE(values.run.bManifestMode);
}

}  // namespace
