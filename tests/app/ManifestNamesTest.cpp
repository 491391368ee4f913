// Updates as other tools write them, served by nginx: names with '/' between directories, names
// that hold URL syntax ('?', '#', '%'), two names that flatten alike, an error page in place of
// the manifest, and a package made by Info-ZIP's zip, whose probe costs the server no body.

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

#include "tests/app/UpdaterHarness.h"
#include "tests/support/Nginx.h"

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

    Installation install;
    TempDir site;
    std::unique_ptr<Nginx> nginx;
};

TEST_F(ManifestNamesTest, NamesWithSlashesAndUrlSyntaxAreFetchedAndInstalled)
{
    Publish({{"data/map/town.dat", "data/map/town.dat", "town"},
             {"what?.txt", "what?.txt", "a question"},
             {"50%off.txt", "50%off.txt", "half price"},
             {"50%25off.txt", "50%25off.txt", "not the same file"},
             {"docs/#1 hit.txt", "docs\\#1 hit.txt", "number one"}});
    const UpdaterRun run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(install.Read("data/map/town.dat"), "town") << run.errors;
    EXPECT_EQ(install.Read("what?.txt"), "a question") << run.errors;
    EXPECT_EQ(install.Read("50%off.txt"), "half price") << run.errors;
    EXPECT_EQ(install.Read("50%25off.txt"), "not the same file") << run.errors;
    EXPECT_EQ(install.Read("docs/#1 hit.txt"), "number one") << run.errors;
    EXPECT_TRUE(run.LobbyStarted()) << run.errors;
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

}  // namespace
