// Servers that answer, but not with the update: a parked domain, a server in maintenance, a
// mirror restored from an old backup. KesuUpdate.exe, run as the lobby runs it against nginx,
// goes on to the next server (or asks again) and never tells the player the game is up to date
// when it could not learn so.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "tests/app/UpdaterHarness.h"
#include "tests/support/Nginx.h"
#include "tests/support/ZipBuilder.h"

using namespace std::chrono_literals;

namespace {

// A parked domain's or a captive portal's page, for every URL.
const std::string kParkedPage =
    "    default_type text/html;\n"
    "    location / { return 200 '<!DOCTYPE html><html><body><h1>This domain is for sale</h1></body></html>'; }\n";

// Paths under maintenance/ name the requests nginx answers with 503 and a Retry-After.
const std::string kMaintenance =
    "    location /update/ {\n"
    "      if (-f $document_root/maintenance$uri) { return 503; }\n"
    "      add_header Retry-After 2 always;\n"
    "    }\n";

class MisleadingServerTest : public ::testing::Test {
public:
    void SetUp() override
    {
        if (NginxBinary().empty())
            GTEST_SKIP() << "nginx is not installed";
        for (TempDir* site : {&first, &second}) {
            ::chmod(site->Path().c_str(), 0755);
            fs::create_directories(site->Path() / "update");
        }
        install.Write("readme.txt", "old readme");
    }

    void Start(const std::string& firstConfig = "")
    {
        nginx1 = std::make_unique<Nginx>(first.Path().string(), firstConfig);
        nginx2 = std::make_unique<Nginx>(second.Path().string());
    }
    // The first server only, or both with the second as its mirror; `extra` follows.
    void Configure(bool mirror, const std::string& extra = "")
    {
        const std::string site2 = mirror ? "site2=127.0.0.1:" + std::to_string(nginx2->Port()) + "\n" : "";
        install.Write("pirvex.dll", "[Download]\nsite1=127.0.0.1:" + std::to_string(nginx1->Port()) + "\n" + site2 +
                                        "[Setup]\nTempDir=tmp\n" + extra);
    }
    static void PublishReadme(const TempDir& site, const std::string& contents)
    {
        site.Write("update/readme.txt", contents);
        site.Write("update/update.xml", Manifest(ManifestEntry("readme.txt", contents)));
    }
    std::string Log() const { return install.Read("tmp/KesuUpdate.log"); }

    TempDir first, second, keys;
    Installation install;
    std::unique_ptr<Nginx> nginx1, nginx2;
};

TEST_F(MisleadingServerTest, AParkedDomainIsPassedOverForTheMirrorThatHasTheUpdate)
{
    Start(kParkedPage);
    PublishReadme(second, "new readme");
    Configure(true);
    const UpdaterRun run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(install.Read("readme.txt"), "new readme") << run.errors;
    EXPECT_FALSE(run.Told("The installation is up to date.")) << run.errors;
    EXPECT_NE(Log().find("so it is no manifest"), std::string::npos) << Log();
}

TEST_F(MisleadingServerTest, AParkedDomainAloneIsAFailureTheLobbyHearsOfNotAnUpToDateGame)
{
    Start(kParkedPage);
    Configure(false);
    const UpdaterRun run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.Told("服务器返回的不是更新清单，已停止更新。")) << run.errors;
    EXPECT_EQ(run.errors.find("up to date"), std::string::npos) << run.errors;
    EXPECT_EQ(install.Read("readme.txt"), "old readme");
    EXPECT_TRUE(run.LobbyStarted()) << run.errors;
}

// nginx answers 503 with Retry-After until the test sees the first such answer and ends the
// maintenance: the same request is asked again, and the update goes through.
class MaintenanceTest : public MisleadingServerTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(MaintenanceTest, ARequestAnsweredWith503IsAskedAgainAfterItsPause)
{
    const std::string inMaintenance = GetParam();
    const bool package = inMaintenance == "Game7.zip";
    const bool signedUpdate = inMaintenance.ends_with(".minisig");
    Start(kMaintenance);
    PublishReadme(first, "new readme");
    WriteZip((first.Path() / "update/Game7.zip").string(), {{"readme.txt", "new readme"}});
    std::string security;
    if (signedUpdate) {
        if (!MinisignInstalled())
            GTEST_SKIP() << "minisign is not installed";
        const MinisignKey key = MakeMinisignKey(keys.Path(), "publisher");
        MinisignSign(key, first.Path() / "update/update.xml", first.Path() / "update/update.xml.minisig");
        security = "[Security]\nPublicKey=" + key.publicKey + "\n";
    }
    first.Write("maintenance/update/" + inMaintenance, "");
    Configure(false, security);

    UpdaterRun run;
    std::atomic<bool> ended{false};
    std::thread updater([&] {
        run = install.Run(package ? std::vector<std::string>{"Game7.dat", "1", "2", "-install"} : std::vector<std::string>{},
                          {"KESU_TEST_RETRY_PAUSE_MS=1500"});
        ended = true;
    });
    const auto asked = [&] {
        const std::vector<std::string> paths = nginx1->RequestedPaths();
        return std::find(paths.begin(), paths.end(), "/update/" + inMaintenance) != paths.end();
    };
    while (!asked() && !ended)
        std::this_thread::sleep_for(10ms);
    fs::remove(first.Path() / "maintenance/update" / inMaintenance);
    updater.join();

    ASSERT_TRUE(run.ended);
    EXPECT_EQ(install.Read("readme.txt"), "new readme") << run.errors;
    EXPECT_NE(Log().find(inMaintenance + ": answered 503; try 2 in 1500 ms"), std::string::npos) << Log();
}

INSTANTIATE_TEST_SUITE_P(Request, MaintenanceTest, ::testing::Values("update.xml", "update.xml.minisig", "Game7.zip"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             std::erase_if(name, [](char c) { return c == '.'; });
                             return name;
                         });

// site1 restored from an old backup serves release 1.0 with its genuine, older signature; site2
// has release 2.1, newer than the 2.0 this installation accepted.
TEST_F(MisleadingServerTest, AMirrorWithAnOlderSignedReleaseIsPassedOverForOneWithTheCurrent)
{
    if (!MinisignInstalled())
        GTEST_SKIP() << "minisign is not installed";
    Start();
    const MinisignKey key = MakeMinisignKey(keys.Path(), "publisher");
    const std::string security = "[Security]\nPublicKey=" + key.publicKey + "\n";
    const auto release = [&](const TempDir& site, const std::string& version, std::uint64_t age) {
        PublishReadme(site, "readme " + version);
        WriteZip((site.Path() / "update/Game7.zip").string(), {{"readme.txt", "readme " + version}});
        for (const char* name : {"update.xml", "Game7.zip"})
            MinisignSign(key, site.Path() / "update" / name, site.Path() / "update" / (std::string(name) + ".minisig"),
                         TrustedComment(Now() - age, name));
    };
    release(first, "2.0", 200);
    Configure(false, security);
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{}, {"Game7.dat", "1", "2", "-install"}}) {
        install.Write("readme.txt", "old readme");
        ASSERT_TRUE(install.Run(arguments).ended);
        ASSERT_EQ(install.Read("readme.txt"), "readme 2.0");
    }

    release(first, "1.0", 300);
    release(second, "2.1", 100);
    Configure(true, security);
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{}, {"Game7.dat", "1", "2", "-install"}}) {
        install.Write("readme.txt", "readme 2.0");
        const UpdaterRun run = install.Run(arguments);
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(install.Read("readme.txt"), "readme 2.1") << run.errors;
        const std::string name = arguments.empty() ? "update.xml" : "Game7.zip";
        const std::string refused = "127.0.0.1:" + std::to_string(nginx1->Port()) + "/update/" + name + ": " + name + ": signed at ";
        EXPECT_NE(Log().find(refused), std::string::npos) << Log();
    }

    // With no server serving an acceptable release, the update is refused.
    release(second, "1.0", 300);
    install.Write("readme.txt", "readme 2.0");
    const UpdaterRun run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.Told(Sentence(kRolledBack, "update.xml"))) << run.errors;
    EXPECT_EQ(install.Read("readme.txt"), "readme 2.0");
}

}  // namespace
