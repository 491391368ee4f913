// An update over HTTPS from nginx, with a certificate authority made for the test by openssl: the
// program trusts it when CURL_CA_BUNDLE, SSL_CERT_FILE or SSL_CERT_DIR names it, and only then.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include "tests/app/UpdaterHarness.h"
#include "tests/support/Nginx.h"
#include "tests/support/TestCertificates.h"

namespace {

constexpr const char* kAuthorityVariables[] = {"CURL_CA_BUNDLE", "SSL_CERT_FILE", "SSL_CERT_DIR"};

class HttpsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (NginxBinary().empty() || !OpensslInstalled())
            GTEST_SKIP() << "nginx or openssl is not installed";
        certificates = std::make_unique<TestCertificates>();
        ::chmod(site.Path().c_str(), 0755);
        site.Write("update/readme.txt", "over https");
        site.Write("update/update.xml", Manifest(ManifestEntry("readme.txt", "over https")));
        nginx = std::make_unique<Nginx>(site.Path().string(), "", 0,
                                        NginxTls{certificates->ServerCertificate(), certificates->ServerKey()});
    }

    // Runs an installation against the server with only `trusting` (if any) naming the
    // authority: the others are set empty, which the program takes as unset.
    UpdaterRun RunTrusting(const Installation& install, const std::string& trusting = "")
    {
        install.Write("pirvex.dll", "[Download]\nsite1=" + nginx->Url("") + "\n[Setup]\nTempDir=tmp\n");
        std::vector<std::string> environment;
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
};

TEST_F(HttpsTest, TheAuthorityNamedByAnyOfTheVariablesIsTrusted)
{
    for (const std::string variable : kAuthorityVariables) {
        SCOPED_TRACE(variable);
        Installation install;
        const UpdaterRun run = RunTrusting(install, variable);
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(install.Read("readme.txt"), "over https") << run.errors;
        EXPECT_TRUE(run.LobbyStarted()) << run.errors;
    }
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
