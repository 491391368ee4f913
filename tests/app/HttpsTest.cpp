// An update over HTTPS (HTTP/2) from nginx, with a certificate authority made for the test by
// openssl: the program trusts it when CURL_CA_BUNDLE, SSL_CERT_FILE or SSL_CERT_DIR names it, and
// only then, on every connection its downloads open, directly or through a forward proxy.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "tests/app/UpdaterHarness.h"
#include "tests/support/Nginx.h"
#include "tests/support/TestCertificates.h"
#include "tests/support/Tinyproxy.h"

namespace {

constexpr const char* kAuthorityVariables[] = {"CURL_CA_BUNDLE", "SSL_CERT_FILE", "SSL_CERT_DIR"};
// Enough files for the default eight connections to share.
constexpr int kFiles = 16;

std::string FileName(int i)
{
    return "data/f" + std::to_string(i) + ".bin";
}

std::string Contents(int i)
{
    return std::string(256 * 1024, static_cast<char>('a' + i));
}

class HttpsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (NginxBinary().empty() || !OpensslInstalled())
            GTEST_SKIP() << "nginx or openssl is not installed";
        certificates = std::make_unique<TestCertificates>();
        ::chmod(site.Path().c_str(), 0755);
        site.Write("update/readme.txt", "over https");
        std::string entries = ManifestEntry("readme.txt", "over https");
        for (int i = 0; i < kFiles; ++i) {
            site.Write("update/" + FileName(i), Contents(i));
            entries += ManifestEntry(FileName(i), Contents(i));
        }
        site.Write("update/update.xml", Manifest(entries));
        nginx = std::make_unique<Nginx>(site.Path().string(), "", 0,
                                        NginxTls{certificates->ServerCertificate(), certificates->ServerKey()});
    }

    // Runs an installation against the server with only `trusting` (if any) naming the
    // authority: the others are set empty, which the program takes as unset.
    UpdaterRun RunTrusting(const Installation& install, const std::string& trusting = "",
                           std::vector<std::string> environment = {})
    {
        install.Write("pirvex.dll", "[Download]\nsite1=" + nginx->Url("") + "\n[Setup]\nTempDir=tmp\n");
        for (const std::string variable : kAuthorityVariables) {
            const auto authority = variable == "SSL_CERT_DIR" ? certificates->AuthorityDirectory()
                                                              : certificates->AuthorityFile();
            environment.push_back(variable + "=" + (variable == trusting ? authority.string() : ""));
        }
        return install.Run({}, environment);
    }

    std::unique_ptr<TestCertificates> certificates;
    TempDir site;
    std::unique_ptr<Nginx> nginx;

    int InstalledFiles(const Installation& install) const
    {
        int installed = 0;
        for (int i = 0; i < kFiles; ++i)
            installed += install.Has(FileName(i)) && install.Read(FileName(i)) == Contents(i);
        return installed;
    }
};

// Every connection the downloads open trusts the authority, not only the first.
TEST_F(HttpsTest, TheAuthorityNamedByAnyOfTheVariablesIsTrustedOnEveryConnection)
{
    for (const std::string variable : kAuthorityVariables) {
        SCOPED_TRACE(variable);
        Installation install;
        const int connectionsBefore = nginx->ConnectionCount();
        const UpdaterRun run = RunTrusting(install, variable);
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(install.Read("readme.txt"), "over https") << run.errors;
        EXPECT_EQ(InstalledFiles(install), kFiles) << run.errors;
        EXPECT_GT(nginx->ConnectionCount() - connectionsBefore, 1) << "the downloads shared one connection";
        EXPECT_TRUE(run.LobbyStarted()) << run.errors;
    }
}

// Through a forward proxy that tunnels HTTPS: every connection nginx saw was a tunnel of the proxy's.
TEST_F(HttpsTest, EveryConnectionGoesThroughTheProxyAndTrustsTheAuthority)
{
    if (TinyproxyBinary().empty())
        GTEST_SKIP() << "tinyproxy is not installed";
    Tinyproxy proxy;
    Installation install;
    const UpdaterRun run = RunTrusting(install, "CURL_CA_BUNDLE", {"https_proxy=" + proxy.Url(), "no_proxy=", "NO_PROXY="});
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(InstalledFiles(install), kFiles) << run.errors;
    EXPECT_GT(nginx->ConnectionCount(), 1);
    EXPECT_EQ(proxy.TunnelCount(), nginx->ConnectionCount());
    EXPECT_TRUE(run.LobbyStarted()) << run.errors;
}

TEST_F(HttpsTest, AnAuthorityNobodyNamedFailsTheRunWithCurlsCertificateText)
{
    Installation install;
    const UpdaterRun run = RunTrusting(install);
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.Told("Error line:493")) << run.errors;
    EXPECT_NE(run.errors.find("SSL certificate problem"), std::string::npos) << run.errors;
    EXPECT_FALSE(install.Has("readme.txt"));
}

}  // namespace
