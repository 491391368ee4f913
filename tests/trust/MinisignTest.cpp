// minisign's formats, held against the real minisign tool: keys and signatures it makes are read
// and checked here, and signatures made here it accepts.

#include <gtest/gtest.h>

#include <memory>

#include "digest/Blake2b.h"
#include "tests/support/MinisignTool.h"
#include "tests/support/TempDir.h"
#include "trust/Minisign.h"

namespace fs = std::filesystem;

namespace {

const std::string kPassphrase = "correct horse";

class MinisignTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        keys = std::make_unique<TempDir>();
        first = MakeMinisignKeys(keys->Path(), "first");
        second = MakeMinisignKeys(keys->Path(), "second");
    }
    static void TearDownTestSuite() { keys.reset(); }

    static MinisignPublicKey PublicKey(const MinisignKeyFiles& files)
    {
        std::optional<MinisignPublicKey> key = ParseMinisignPublicKey(ReadWholeFile(files.publicKey));
        if (!key)
            throw std::runtime_error(files.publicKey.string() + " is not read");
        return *key;
    }

    // The .minisig text the tool writes for `data`, signed with the key (never encrypted here).
    std::string ToolSignature(const MinisignKeyFiles& files, const std::string& data, const std::string& options = "")
    {
        const std::string name = "data" + std::to_string(++signatures);
        work.Write(name, data);
        std::vector<std::string> arguments{"-S", "-s", files.secretKey.string(), "-m", name};
        if (!options.empty())
            arguments.push_back(options);
        ToolRun run = RunMinisign(work.Path(), arguments);
        EXPECT_EQ(run.status, 0) << run.output;
        return ReadWholeFile(work.Path() / (name + ".minisig"));
    }

    static SignatureCheck Check(const std::string& minisig, const std::vector<MinisignPublicKey>& set,
                                const std::string& data)
    {
        std::optional<MinisignSignature> signature = ParseMinisignSignature(minisig);
        if (!signature)
            throw std::runtime_error("not read: " + minisig);
        return VerifyMinisign(*signature, set, data);
    }

    static Blake2b512Digest DigestOf(const std::string& data)
    {
        CBlake2b512 hash;
        hash.Update(data.data(), data.size());
        return hash.Final();
    }

    static std::unique_ptr<TempDir> keys;
    static MinisignKeyFiles first, second;
    TempDir work;
    int signatures = 0;
};

std::unique_ptr<TempDir> MinisignTest::keys;
MinisignKeyFiles MinisignTest::first, MinisignTest::second;

std::string Line(const std::string& text, std::size_t index)
{
    std::size_t start = 0;
    for (; index > 0; --index)
        start = text.find('\n', start) + 1;
    return text.substr(start, text.find('\n', start) - start);
}

std::string ReplaceLine(const std::string& text, std::size_t index, const std::string& line)
{
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
    }
    lines.at(index) = line;
    std::string joined;
    for (const std::string& each : lines)
        joined += each + "\n";
    return joined;
}

TEST_F(MinisignTest, PublicKeysAreReadFromTheFileAndFromTheLine)
{
    const std::string file = ReadWholeFile(first.publicKey);
    const std::string line = Line(file, 1);
    std::optional<MinisignPublicKey> fromFile = ParseMinisignPublicKey(file);
    std::optional<MinisignPublicKey> fromLine = ParseMinisignPublicKey("  " + line + "\n");
    ASSERT_TRUE(fromFile && fromLine);
    EXPECT_EQ(fromFile->key, fromLine->key);
    EXPECT_EQ(fromFile->keyId, fromLine->keyId);
    EXPECT_EQ(MinisignPublicKeyText(*fromFile), line);
    // The .pub file's comment names the key id as minisign prints it.
    EXPECT_EQ(file.substr(0, file.find('\n')), "untrusted comment: minisign public key " + KeyIdText(fromFile->keyId));

    EXPECT_FALSE(ParseMinisignPublicKey(line.substr(0, 52)));
    EXPECT_FALSE(ParseMinisignPublicKey(line + "AAAA"));
    EXPECT_FALSE(ParseMinisignPublicKey("R" + line.substr(2)));  // the algorithm is no longer "Ed"
    EXPECT_FALSE(ParseMinisignPublicKey("untrusted comment: only a comment"));
    EXPECT_FALSE(ParseMinisignPublicKey(""));
}

TEST_F(MinisignTest, KeyIdsArePrintedWithoutLeadingZeros)
{
    // Key ids that minisign 0.11 printed in the comments of .pub files it wrote.
    EXPECT_EQ(KeyIdText({0xE1, 0xBE, 0xA6, 0x87, 0xE6, 0x27, 0x0F, 0x07}), "70F27E687A6BEE1");
    EXPECT_EQ(KeyIdText({0x8D, 0x77, 0x04, 0x64, 0xDD, 0xC3, 0xBA, 0xD8}), "D8BAC3DD6404778D");
}

TEST_F(MinisignTest, TheToolsSignaturesVerifyPrehashedAndLegacy)
{
    const std::string data = "the manifest\n";
    const std::vector<MinisignPublicKey> set{PublicKey(first)};
    const std::string prehashed = ToolSignature(first, data);
    const std::string legacy = ToolSignature(first, data, "-l");
    EXPECT_TRUE(ParseMinisignSignature(prehashed)->prehashed);
    EXPECT_FALSE(ParseMinisignSignature(legacy)->prehashed);
    EXPECT_EQ(Check(prehashed, set, data), SignatureCheck::Valid);
    EXPECT_EQ(Check(legacy, set, data), SignatureCheck::Valid);

    EXPECT_EQ(VerifyMinisignPrehashed(*ParseMinisignSignature(prehashed), set, DigestOf(data)), SignatureCheck::Valid);
    // A legacy signature covers the bytes, which a digest cannot stand for.
    EXPECT_EQ(VerifyMinisignPrehashed(*ParseMinisignSignature(legacy), set, DigestOf(data)), SignatureCheck::Invalid);
}

TEST_F(MinisignTest, ChangedDataOrTrustedCommentIsInvalid)
{
    const std::string data = "the manifest\n";
    const std::vector<MinisignPublicKey> set{PublicKey(first)};
    for (const std::string& minisig : {ToolSignature(first, data), ToolSignature(first, data, "-l")}) {
        std::string changed = data;
        changed[4] ^= 1;
        EXPECT_EQ(Check(minisig, set, changed), SignatureCheck::Invalid);
        const std::string comment = ParseMinisignSignature(minisig)->trustedComment;
        EXPECT_EQ(Check(ReplaceLine(minisig, 2, "trusted comment: " + comment + "\texpires:9999999999"), set, data),
                  SignatureCheck::Invalid);
        // The untrusted comment is what its name says.
        EXPECT_EQ(Check(ReplaceLine(minisig, 0, "untrusted comment: anything"), set, data), SignatureCheck::Valid);
    }
}

TEST_F(MinisignTest, TheSignersKeyIsFoundInTheSet)
{
    const std::string data = "package bytes";
    const std::string minisig = ToolSignature(second, data);
    EXPECT_EQ(Check(minisig, {PublicKey(first)}, data), SignatureCheck::UnknownKey);
    EXPECT_EQ(Check(minisig, {PublicKey(first), PublicKey(second)}, data), SignatureCheck::Valid);
    EXPECT_EQ(Check(minisig, {}, data), SignatureCheck::UnknownKey);

    // A key that claims the signer's id but is another key does not make it valid.
    MinisignPublicKey impostor = PublicKey(first);
    impostor.keyId = PublicKey(second).keyId;
    EXPECT_EQ(Check(minisig, {impostor}, data), SignatureCheck::Invalid);
}

TEST_F(MinisignTest, MalformedSignatureFilesAreNotRead)
{
    const std::string minisig = ToolSignature(first, "data");
    std::string crlf;
    for (char c : minisig)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_TRUE(ParseMinisignSignature(crlf));
    EXPECT_TRUE(ParseMinisignSignature(minisig.substr(0, minisig.size() - 1)));  // no final newline

    EXPECT_FALSE(ParseMinisignSignature(""));
    EXPECT_FALSE(ParseMinisignSignature("<html>not found</html>\n"));
    EXPECT_FALSE(ParseMinisignSignature(minisig.substr(0, minisig.rfind('\n', minisig.size() - 2) + 1)));
    EXPECT_FALSE(ParseMinisignSignature(minisig + "\n"));
    EXPECT_FALSE(ParseMinisignSignature(ReplaceLine(minisig, 0, "comment: no prefix")));
    EXPECT_FALSE(ParseMinisignSignature(ReplaceLine(minisig, 2, "comment: no prefix")));
    const std::string signatureLine = Line(minisig, 1);
    EXPECT_FALSE(ParseMinisignSignature(ReplaceLine(minisig, 1, signatureLine.substr(0, 96))));
    EXPECT_FALSE(ParseMinisignSignature(ReplaceLine(minisig, 1, "RU" + signatureLine.substr(2, 1) + "=" + signatureLine.substr(4))));
    EXPECT_FALSE(ParseMinisignSignature(ReplaceLine(minisig, 1, "RV" + signatureLine.substr(2))));  // algorithm "ET"
}

TEST_F(MinisignTest, TrustedCommentFields)
{
    TrustedComment comment = ParseTrustedComment("timestamp:1700000000\tfile:update.xml\thashed");
    EXPECT_EQ(comment.timestamp, 1700000000u);
    EXPECT_EQ(comment.file, "update.xml");
    EXPECT_FALSE(comment.expires);

    comment = ParseTrustedComment("expires:18446744073709551615\tfile:a name: with colons\ttimestamp:0");
    EXPECT_EQ(comment.expires, 18446744073709551615u);
    EXPECT_EQ(comment.file, "a name: with colons");
    EXPECT_EQ(comment.timestamp, 0u);

    for (const char* malformed : {"timestamp:", "timestamp:-1", "timestamp:+1", "timestamp:12a", "timestamp: 12",
                                  "timestamp:18446744073709551616", "timestamp:1\ttimestamp:1", "Timestamp:1"})
        EXPECT_FALSE(ParseTrustedComment(malformed).timestamp) << malformed;
    EXPECT_FALSE(ParseTrustedComment("file:a\tfile:b").file);
    EXPECT_EQ(ParseTrustedComment("file:").file, "");
    EXPECT_FALSE(ParseTrustedComment("a comment a person wrote").file);
}

TEST_F(MinisignTest, AnUnencryptedKeySignsWhatTheToolAccepts)
{
    int asked = 0;
    MinisignSecretKey key = ReadMinisignSecretKey(ReadWholeFile(first.secretKey), [&] {
        ++asked;
        return std::string();
    });
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(key.keyId, PublicKey(first).keyId);

    const std::string data(100000, 'z');
    work.Write("update.zip", data);
    const std::string minisig = SignMinisign(key, DigestOf(data), "timestamp:1700000000\tfile:update.zip");
    work.Write("update.zip.minisig", minisig);
    ToolRun run = RunMinisign(work.Path(), {"-V", "-p", first.publicKey.string(), "-m", "update.zip"});
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("Trusted comment: timestamp:1700000000\tfile:update.zip"), std::string::npos) << run.output;
    EXPECT_TRUE(minisig.starts_with("untrusted comment: signature from kesu-publish\n"));
    EXPECT_EQ(Check(minisig, {PublicKey(first)}, data), SignatureCheck::Valid);

    EXPECT_THROW(SignMinisign(key, DigestOf(data), "two\nlines"), std::invalid_argument);
}

TEST_F(MinisignTest, AnEncryptedKeyNeedsItsPassphrase)
{
    // Made here alone: each encrypted key costs the tool, and this test twice, a slow scrypt.
    const MinisignKeyFiles encrypted = MakeMinisignKeys(work.Path(), "encrypted", kPassphrase);
    const std::string text = ReadWholeFile(encrypted.secretKey);
    MinisignSecretKey key = ReadMinisignSecretKey(text, [] { return kPassphrase; });
    EXPECT_EQ(key.keyId, PublicKey(encrypted).keyId);
    work.Write("file", "signed with a passphrase");
    work.Write("file.minisig", SignMinisign(key, DigestOf("signed with a passphrase"), "timestamp:1\tfile:file"));
    ToolRun run = RunMinisign(work.Path(), {"-V", "-p", encrypted.publicKey.string(), "-m", "file"});
    EXPECT_EQ(run.status, 0) << run.output;

    try {
        ReadMinisignSecretKey(text, [] { return std::string("wrong horse"); });
        ADD_FAILURE() << "a wrong passphrase was taken";
    } catch (const MinisignKeyError& error) {
        EXPECT_STREQ(error.what(), "wrong passphrase");
    }
}

TEST_F(MinisignTest, DamagedSecretKeysAreRefused)
{
    auto refusal = [](const std::string& text) -> std::string {
        try {
            ReadMinisignSecretKey(text, [] { return std::string(); });
            return "read";
        } catch (const MinisignKeyError& error) {
            return error.what();
        }
    };
    EXPECT_EQ(refusal(ReadWholeFile(first.publicKey)), "not a minisign secret key");
    EXPECT_EQ(refusal("garbage"), "not a minisign secret key");

    // Another seed under the same public half: a -W key has no checksum to tell, the halves do.
    const std::string text = ReadWholeFile(first.secretKey);
    std::vector<std::uint8_t> bytes = *DecodeBase64(Line(text, 1));
    bytes[54 + 8] ^= 1;  // after the algorithms, salt, limits and key id: the seed's first byte
    EXPECT_EQ(refusal(ReplaceLine(text, 1, EncodeBase64(bytes.data(), bytes.size()))), "the secret key is damaged");
}

}  // namespace
