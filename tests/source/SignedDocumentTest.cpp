// Fetching the manifest with its signature: what ends the fetch of one server, and what is asked
// of it before that.

#include <gtest/gtest.h>

#include <mutex>
#include <utility>
#include <vector>

#include "download/UpdateSession.h"
#include "source/SignedDocument.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace {

class SignedDocumentTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server.Http().Get(R"(/update/(.*))", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(mutex);
            asked.push_back(req.matches[1]);
            const std::string name = req.matches[1];
            if (name == "gone.xml") {
                res.status = 404;
                res.set_content("<manifest/>", "text/xml");
            } else if (name == "page.xml") {
                res.set_content("<html><body>\xCE\xDE\xB7\xA8\xD5\xD2\xB5\xBD\xB8\xC3\xD2\xB3</body></html>", "text/html");
            } else if (name == "update.xml") {
                res.set_content("<manifest/>", "text/xml");
            } else {
                res.status = 404;
            }
        });
        server.Start();
    }
    SignedDocument Fetch(const std::string& name, CInternetSession* pSession)
    {
        return FetchSignedDocument(server.Url("/update/" + name), &trust, pSession, nullptr);
    }
    std::vector<std::string> Asked()
    {
        std::lock_guard lock(mutex);
        return std::exchange(asked, {});
    }

    TestServer server;
    std::mutex mutex;
    std::vector<std::string> asked;
    TempDir install;
    // A key that is none: every signature is refused, once it has been asked for.
    CUpdateTrust trust{{"not a minisign key"}, install.Dir() + "KesuUpdate.trust"};
    std::unique_ptr<CInternetSession> session = OpenUpdateSession();
};

TEST_F(SignedDocumentTest, AnErrorPageIs546AndItsSignatureIsNeverAskedFor)
{
    for (const char* name : {"gone.xml", "page.xml"}) {
        const SignedDocument document = Fetch(name, session.get());
        ASSERT_TRUE(document.failure) << name;
        EXPECT_EQ(document.failure->strSentence, "Error line:546\n") << name;
        EXPECT_EQ(Asked(), std::vector<std::string>{name});
    }
}

TEST_F(SignedDocumentTest, AManifestIsFollowedByItsSignatureWhichMustHold)
{
    ::testing::internal::CaptureStderr();
    const SignedDocument document = Fetch("update.xml", session.get());
    const std::string logged = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(document.failure);
    EXPECT_EQ(document.failure->strSentence, "配置的公钥无效，已拒绝本次更新。");
    EXPECT_NE(logged.find(server.Url("/update/update.xml") + ": not a minisign public key"), std::string::npos) << logged;
    EXPECT_EQ(Asked(), (std::vector<std::string>{"update.xml", "update.xml.minisig"}));
}

TEST_F(SignedDocumentTest, WithoutASessionNothingIsAsked)
{
    const SignedDocument document = Fetch("update.xml", nullptr);
    ASSERT_TRUE(document.failure);
    EXPECT_EQ(document.failure->strSentence, "Error line:499\n");
    EXPECT_EQ(Asked(), std::vector<std::string>{});
}

}  // namespace
