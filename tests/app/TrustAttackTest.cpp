// Signed updates attacked: KesuUpdate.exe, run as the lobby runs it against nginx, must refuse
// every manifest and package that its configured keys do not vouch for, before it downloads
// anything more, and accept those that they do.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sys/stat.h>

#include "tests/app/UpdaterHarness.h"
#include "tests/support/Nginx.h"
#include "tests/support/ZipBuilder.h"

namespace {

class TrustAttackTest : public ::testing::Test {
public:
    void SetUp() override
    {
        if (NginxBinary().empty())
            GTEST_SKIP() << "nginx is not installed";
        if (!MinisignInstalled())
            GTEST_SKIP() << "minisign is not installed";
        ::chmod(site.Path().c_str(), 0755);
        fs::create_directories(site.Path() / "update");
        nginx = std::make_unique<Nginx>(site.Path().string());
        publisher = MakeMinisignKey(keys.Path(), "publisher");
        Trust({publisher.publicKey});
        install.Write("readme.txt", "old readme");
    }

    // The keys of [Security] PublicKey, in this order.
    void Trust(const std::vector<std::string>& publicKeys)
    {
        std::string list;
        for (const auto& key : publicKeys)
            list += (list.empty() ? "" : ",") + key;
        install.Configure(nginx->Port(), "[Security]\nPublicKey=" + list + "\n");
    }

    fs::path Served(const std::string& name) const { return site.Path() / "update" / name; }
    void Serve(const std::string& name, const std::string& contents) const { site.Write("update/" + name, contents); }
    std::string ServedText(const std::string& name) const { return ReadWholeFile(Served(name)); }

    // update.xml listing readme.txt with these contents, and the file beside it.
    void PublishReadme(const std::string& contents) const
    {
        Serve("readme.txt", contents);
        Serve("update.xml", Manifest(ManifestEntry("readme.txt", contents)));
    }
    // Game7.zip holding maps/harbour.map.
    void PublishPackage(const std::string& harbour) const
    {
        WriteZip(Served("Game7.zip").string(), {{"maps/harbour.map", harbour}});
    }

    // NAME.minisig beside a served file; an empty comment leaves minisign's own.
    void Sign(const MinisignKey& key, const std::string& name, const std::string& comment = "") const
    {
        MinisignSign(key, Served(name), Served(name + ".minisig"), comment);
    }
    // The signature minisign makes of the file's bytes under another name, served as NAME.minisig.
    void SignAsAnotherFile(const std::string& name, const std::string& other) const
    {
        fs::copy_file(Served(name), Served(other), fs::copy_options::overwrite_existing);
        Sign(publisher, other);
        fs::copy_file(Served(other + ".minisig"), Served(name + ".minisig"), fs::copy_options::overwrite_existing);
    }

    // What the program asked for under update/, in order.
    std::vector<std::string> Fetched() const
    {
        std::vector<std::string> names;
        for (const auto& path : nginx->RequestedPaths())
            names.push_back(path.starts_with("/update/") ? path.substr(8) : path);
        return names;
    }
    // Fails the test on a request for anything but these.
    void ExpectFetchedOnly(const std::vector<std::string>& allowed) const
    {
        for (const auto& name : Fetched())
            EXPECT_TRUE(std::find(allowed.begin(), allowed.end(), name) != allowed.end()) << "fetched " << name;
    }

    static std::vector<std::string> Package()
    {
        return {"Game7.dat", "1", "2", "-install"};
    }

    TempDir site, keys;
    Installation install;
    std::unique_ptr<Nginx> nginx;
    MinisignKey publisher;
};

// One way of handing the program a manifest or package it must not take.
struct Attack {
    const char* name;
    std::function<void(TrustAttackTest&, const std::string& file)> stage;
    const char* refusal;  // the sentence's format
};

void PrintTo(const Attack& attack, std::ostream* out)
{
    *out << attack.name;
}

std::string AttackName(const ::testing::TestParamInfo<Attack>& info)
{
    return info.param.name;
}

// Attacks on the signature that show before the signed file is used: shared by both modes.
const Attack kSignatureAttacks[] = {
    {"NoSignature", [](TrustAttackTest&, const std::string&) {}, kUnsigned},
    {"NotMinisignsFormat",
     [](TrustAttackTest& t, const std::string& file) { t.Serve(file + ".minisig", "this is not a signature\n"); },
     kBadSignature},
    {"TruncatedSignature",
     [](TrustAttackTest& t, const std::string& file) {
         t.Sign(t.publisher, file);
         const std::string text = t.ServedText(file + ".minisig");
         t.Serve(file + ".minisig", text.substr(0, text.find("trusted comment:")));
     },
     kBadSignature},
    {"TrustedCommentChanged",
     [](TrustAttackTest& t, const std::string& file) {
         t.Sign(t.publisher, file, TrustedComment(Now() - 100, file));
         std::string text = t.ServedText(file + ".minisig");
         const auto at = text.find("timestamp:") + 10;
         text.replace(at, text.find('\t', at) - at, std::to_string(Now() + 100000));
         t.Serve(file + ".minisig", text);
     },
     kBadSignature},
    {"UntrustedKey",
     [](TrustAttackTest& t, const std::string& file) { t.Sign(MakeMinisignKey(t.keys.Path(), "stranger"), file); },
     kUntrustedKey},
    {"AnotherFilesSignature",
     [](TrustAttackTest& t, const std::string& file) { t.SignAsAnotherFile(file, "Game8" + file.substr(file.find('.'))); },
     kOtherFile},
    {"Expired",
     [](TrustAttackTest& t, const std::string& file) {
         t.Sign(t.publisher, file, TrustedComment(Now() - 100, file, Now() - 60));
     },
     kExpired},
    {"ConfiguredKeyNotAKey",
     [](TrustAttackTest& t, const std::string& file) {
         t.Sign(t.publisher, file);
         t.Trust({"not a minisign key"});
     },
     nullptr},
    {"OneOfTwoConfiguredKeysNotAKey",
     [](TrustAttackTest& t, const std::string& file) {
         t.Sign(t.publisher, file);
         t.Trust({t.publisher.publicKey, "RWQ" + t.publisher.publicKey.substr(3, 20)});
     },
     nullptr},
};

std::string Refusal(const Attack& attack, const std::string& file)
{
    return attack.refusal ? Sentence(attack.refusal, file) : kBadConfiguredKey;
}

class ManifestAttackTest : public TrustAttackTest, public ::testing::WithParamInterface<Attack> {};

TEST_P(ManifestAttackTest, IsRefusedAndTheLobbyGetsControlBack)
{
    PublishReadme("new readme");
    GetParam().stage(*this, "update.xml");
    const UpdaterRun run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.Told(Refusal(GetParam(), "update.xml"))) << run.errors;
    EXPECT_EQ(install.Read("readme.txt"), "old readme");
    ExpectFetchedOnly({"update.xml", "update.xml.minisig"});
    EXPECT_TRUE(run.LobbyStarted()) << run.errors;
}

INSTANTIATE_TEST_SUITE_P(Signature, ManifestAttackTest, ::testing::ValuesIn(kSignatureAttacks), AttackName);

TEST_F(TrustAttackTest, AManifestChangedAfterSigningIsRefused)
{
    PublishReadme("new readme");
    Sign(publisher, "update.xml");
    PublishReadme("evil readme");
    const UpdaterRun run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.Told(Sentence(kBadSignature, "update.xml"))) << run.errors;
    EXPECT_EQ(install.Read("readme.txt"), "old readme");
    ExpectFetchedOnly({"update.xml", "update.xml.minisig"});
    EXPECT_TRUE(run.LobbyStarted()) << run.errors;
}

class PackageAttackTest : public TrustAttackTest, public ::testing::WithParamInterface<Attack> {};

TEST_P(PackageAttackTest, IsRefusedBeforeThePackageIsDownloaded)
{
    PublishPackage("harbour");
    Serve("Game7.xml", Manifest(ManifestEntry("readme.txt", "new readme")));  // no way round the package
    Serve("readme.txt", "new readme");
    GetParam().stage(*this, "Game7.zip");
    const UpdaterRun run = install.Run(Package());
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.Told(Refusal(GetParam(), "Game7.zip"))) << run.errors;
    EXPECT_FALSE(install.Has("maps"));
    EXPECT_EQ(install.Read("readme.txt"), "old readme");
    EXPECT_FALSE(install.Has("tmp/Game7.zip"));
    ExpectFetchedOnly({"Game7.zip", "Game7.zip.minisig"});
    const auto fetched = Fetched();
    EXPECT_LE(std::count(fetched.begin(), fetched.end(), "Game7.zip"), 1) << "the package was downloaded";
}

INSTANTIATE_TEST_SUITE_P(Signature, PackageAttackTest, ::testing::ValuesIn(kSignatureAttacks), AttackName);

TEST_F(TrustAttackTest, APackageChangedAfterSigningFailsTheRunAndIsNeitherUnpackedNorKept)
{
    PublishPackage("harbour");
    Sign(publisher, "Game7.zip");
    PublishPackage("a harbour with a back door");
    const UpdaterRun run = install.Run(Package());
    ASSERT_TRUE(run.ended);
    const auto refused = run.errors.find("提示: " + Sentence(kBadSignature, "Game7.zip") + "\n");
    const auto failed = run.errors.find("提示: " + kFailedRunText + "\n");
    ASSERT_NE(refused, std::string::npos) << run.errors;
    ASSERT_NE(failed, std::string::npos) << run.errors;
    EXPECT_LT(refused, failed);
    EXPECT_FALSE(install.Has("maps"));
    EXPECT_FALSE(install.Has("tmp/Game7.zip"));
    EXPECT_FALSE(run.LobbyStarted());
}

TEST_F(TrustAttackTest, AFileThatDiffersFromTheSignedManifestFailsTheRun)
{
    PublishReadme("new readme");
    Sign(publisher, "update.xml");
    Serve("readme.txt", "bad readme");  // the same size
    const UpdaterRun run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.Told(DownloadFailed("readme.txt"))) << run.errors;
    EXPECT_TRUE(run.Told(kFailedRunText)) << run.errors;
    EXPECT_EQ(install.Read("readme.txt"), "old readme");
    EXPECT_FALSE(install.Has("tmp/readme.txt.dtm"));
}

// Trusted comments the program takes.
struct Accepted {
    const char* name;
    std::function<std::string(const std::string& file)> comment;
};

const Accepted kAcceptedComments[] = {
    {"MinisignsOwn", [](const std::string&) { return std::string(); }},
    {"TimestampAndFile", [](const std::string& file) { return TrustedComment(Now() - 10, file); }},
    {"NotYetExpired", [](const std::string& file) { return TrustedComment(Now() - 10, file, Now() + 3600); }},
    {"FieldsInAnotherOrder",
     [](const std::string& file) { return "build:42\tfile:" + file + "\ttimestamp:" + std::to_string(Now() - 10); }},
};

void PrintTo(const Accepted& accepted, std::ostream* out)
{
    *out << accepted.name;
}

class AcceptedSignatureTest : public TrustAttackTest, public ::testing::WithParamInterface<Accepted> {};

TEST_P(AcceptedSignatureTest, ASignedManifestUpdates)
{
    PublishReadme("new readme");
    Sign(publisher, "update.xml", GetParam().comment("update.xml"));
    const UpdaterRun run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(install.Read("readme.txt"), "new readme") << run.errors;
    EXPECT_EQ(run.errors.find("已拒绝"), std::string::npos) << run.errors;
    const auto fetched = Fetched();
    EXPECT_NE(std::find(fetched.begin(), fetched.end(), "update.xml.minisig"), fetched.end());
    EXPECT_TRUE(run.LobbyStarted()) << run.errors;
}

TEST_P(AcceptedSignatureTest, ASignedPackageUpdates)
{
    PublishPackage("harbour");
    Sign(publisher, "Game7.zip", GetParam().comment("Game7.zip"));
    const UpdaterRun run = install.Run(Package());
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(install.Read("maps/harbour.map"), "harbour") << run.errors;
    EXPECT_EQ(run.errors.find("已拒绝"), std::string::npos) << run.errors;
    EXPECT_FALSE(install.Has("tmp/Game7.zip"));
}

INSTANTIATE_TEST_SUITE_P(Comment, AcceptedSignatureTest, ::testing::ValuesIn(kAcceptedComments),
                         [](const ::testing::TestParamInfo<Accepted>& info) { return info.param.name; });

TEST_F(TrustAttackTest, WithoutAConfiguredKeyAnUnsignedUpdateIsTaken)
{
    install.Configure(nginx->Port());
    PublishReadme("new readme");
    const UpdaterRun run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(install.Read("readme.txt"), "new readme") << run.errors;
}

TEST_F(TrustAttackTest, AnOlderManifestThanOneAcceptedIsRefused)
{
    PublishReadme("readme 2");
    Sign(publisher, "update.xml", TrustedComment(Now() - 100, "update.xml"));
    ASSERT_TRUE(install.Run().ended);
    ASSERT_EQ(install.Read("readme.txt"), "readme 2");

    // A replay of an older release, validly signed in its day.
    PublishReadme("readme 1");
    Sign(publisher, "update.xml", TrustedComment(Now() - 200, "update.xml"));
    const UpdaterRun run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.Told(Sentence(kRolledBack, "update.xml"))) << run.errors;
    EXPECT_EQ(install.Read("readme.txt"), "readme 2");
    EXPECT_TRUE(run.LobbyStarted()) << run.errors;
}

TEST_F(TrustAttackTest, ASignedPackageIsRecordedAndAnOlderOneRefusedWhateverTheManifestsTimes)
{
    // The manifest's newer acceptance does not hold back the package: each name has its own.
    PublishReadme("new readme");
    Sign(publisher, "update.xml", TrustedComment(Now() - 10, "update.xml"));
    ASSERT_TRUE(install.Run().ended);
    ASSERT_EQ(install.Read("readme.txt"), "new readme");

    PublishPackage("harbour 2");
    Sign(publisher, "Game7.zip", TrustedComment(Now() - 500, "Game7.zip"));
    UpdaterRun run = install.Run(Package());
    ASSERT_TRUE(run.ended);
    ASSERT_EQ(install.Read("maps/harbour.map"), "harbour 2") << run.errors;
    EXPECT_TRUE(install.Has("KesuUpdate.trust"));

    PublishPackage("harbour 1");
    Sign(publisher, "Game7.zip", TrustedComment(Now() - 600, "Game7.zip"));
    const std::size_t before = Fetched().size();
    run = install.Run(Package());
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.Told(Sentence(kRolledBack, "Game7.zip"))) << run.errors;
    EXPECT_EQ(install.Read("maps/harbour.map"), "harbour 2");
    const auto fetched = Fetched();
    EXPECT_LE(std::count(fetched.begin() + static_cast<long>(before), fetched.end(), "Game7.zip"), 1);
}

TEST_F(TrustAttackTest, AfterAKeyRotationBothConfiguredKeysAreTrusted)
{
    const MinisignKey next = MakeMinisignKey(keys.Path(), "next");
    Trust({publisher.publicKey, next.publicKey});
    PublishReadme("signed with the next key");
    Sign(next, "update.xml", TrustedComment(Now() - 200, "update.xml"));
    UpdaterRun run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(install.Read("readme.txt"), "signed with the next key") << run.errors;

    PublishReadme("signed with the first key");
    Sign(publisher, "update.xml", TrustedComment(Now() - 100, "update.xml"));
    run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(install.Read("readme.txt"), "signed with the first key") << run.errors;
}

// A KesuUpdate.trust that is not what the program writes counts as nothing accepted, and is
// replaced by what the next accepted update records.
struct Damage {
    const char* name;
    std::string contents;
};

const Damage kDamages[] = {
    {"Empty", ""},
    {"Binary", std::string("\0\xff\xfe garbage \x01\x02", sizeof "\0\xff\xfe garbage \x01\x02" - 1)},
    {"OneLongLine", std::string(100000, 'x')},
    {"HalfARecord", "update.xml\t"},
    {"RecordsWithoutNumbers", "update.xml=\nGame7.zip=-\n"},
};

void PrintTo(const Damage& damage, std::ostream* out)
{
    *out << damage.name;
}

class DamagedTrustFileTest : public TrustAttackTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedTrustFileTest, CountsAsNothingAcceptedAndIsWrittenAfresh)
{
    install.Write("KesuUpdate.trust", GetParam().contents);
    PublishReadme("readme 2");
    Sign(publisher, "update.xml", TrustedComment(Now() - 100, "update.xml"));
    UpdaterRun run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(install.Read("readme.txt"), "readme 2") << run.errors;

    PublishReadme("readme 1");
    Sign(publisher, "update.xml", TrustedComment(Now() - 200, "update.xml"));
    run = install.Run();
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(run.Told(Sentence(kRolledBack, "update.xml"))) << run.errors;
    EXPECT_EQ(install.Read("readme.txt"), "readme 2");
}

INSTANTIATE_TEST_SUITE_P(Trust, DamagedTrustFileTest, ::testing::ValuesIn(kDamages),
                         [](const ::testing::TestParamInfo<Damage>& info) { return info.param.name; });

}  // namespace
