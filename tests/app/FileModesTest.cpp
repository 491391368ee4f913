// The permissions a manifest update gives the files it installs: the mode an entry states, within
// the umask, and without one what a new or replaced file had before.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <tuple>

#include "tests/app/UpdaterHarness.h"
#include "tests/support/Nginx.h"

namespace {

class FileModesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (NginxBinary().empty())
            GTEST_SKIP() << "nginx is not installed";
        ::chmod(site.Path().c_str(), 0755);
    }

    // Publishes each file with the attributes given for its entry, and serves them.
    void Publish(const std::vector<std::tuple<std::string, std::string, std::string>>& files)
    {
        std::string entries;
        for (const auto& [name, contents, attributes] : files) {
            site.Write("update/" + name, contents);
            entries += ManifestEntry(name, contents, attributes);
        }
        site.Write("update/update.xml", Manifest(entries));
        nginx = std::make_unique<Nginx>(site.Path().string());
        install.Configure(nginx->Port());
    }

    // Runs the update with the umask given.
    UpdaterRun RunWithUmask(mode_t mask)
    {
        const mode_t previous = ::umask(mask);
        UpdaterRun run = install.Run();
        ::umask(previous);
        return run;
    }

    mode_t ModeOf(const std::string& name) const
    {
        struct stat st {};
        return ::stat((install.Path() / name).c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }

    Installation install;
    TempDir site;
    std::unique_ptr<Nginx> nginx;
};

TEST_F(FileModesTest, AStatedModeIsTheInstalledFilesWithinTheUmask)
{
    install.Write("replaced.sh", "old");
    ::chmod((install.Path() / "replaced.sh").c_str(), 0600);
    install.Write("kept.txt", "old");
    ::chmod((install.Path() / "kept.txt").c_str(), 0604);
    Publish({{"bin/tool.sh", "#!/bin/sh\n", "mode=\"775\""},
             {"replaced.sh", "new", "mode=\"0755\""},
             {"kept.txt", "new", ""},
             {"plain.txt", "plain", ""}});
    const UpdaterRun run = RunWithUmask(027);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(install.Read("bin/tool.sh"), "#!/bin/sh\n") << run.errors;
    EXPECT_EQ(ModeOf("bin/tool.sh"), 0750u);
    EXPECT_EQ(ModeOf("replaced.sh"), 0750u);  // the stated mode, not the replaced file's
    EXPECT_EQ(install.Read("kept.txt"), "new");
    EXPECT_EQ(ModeOf("kept.txt"), 0604u);  // without one, a replaced file's mode stays
    EXPECT_EQ(ModeOf("plain.txt"), 0640u);  // and a new file is created as any other
}

TEST_F(FileModesTest, AModeThatIsNotPermissionBitsIsIgnoredAndSaid)
{
    Publish({{"letters.sh", "a", "mode=\"7z5\""}, {"setuid.sh", "b", "mode=\"4755\""}, {"empty.sh", "c", "mode=\"\""}});
    const UpdaterRun run = RunWithUmask(022);
    ASSERT_TRUE(run.ended);
    for (const std::string name : {"letters.sh", "setuid.sh", "empty.sh"}) {
        EXPECT_TRUE(install.Has(name)) << run.errors;
        EXPECT_EQ(ModeOf(name), 0644u) << name;
        EXPECT_NE(run.errors.find(name + ": the mode"), std::string::npos) << run.errors;
    }
    EXPECT_TRUE(run.LobbyStarted()) << run.errors;
}

}  // namespace
