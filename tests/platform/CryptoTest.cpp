// The digests and base64 over libsodium, held against coreutils' b2sum, sha256sum and base64.

#include <gtest/gtest.h>

#include "platform/Crypto.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

namespace {

// The first word of the tool's output for the file: the digest it prints.
std::string ToolDigest(const TempDir& dir, const std::string& tool, const std::string& name)
{
    ToolRun run = RunTool(dir.Path(), tool, {name});
    EXPECT_EQ(run.status, 0) << run.output;
    return run.output.substr(0, run.output.find(' '));
}

TEST(CryptoTest, DigestsFedInPiecesMatchCoreutils)
{
    TempDir dir;
    std::string data;
    for (int i = 0; i < 300000; ++i)
        data += static_cast<char>(i * 7 % 251);
    dir.Write("data", data);
    CBlake2b512 blake2b;
    CSha256 sha256;
    // Uneven pieces, so that the hashes' own block boundaries fall inside them.
    for (std::size_t at = 0, piece = 1; at < data.size(); at += piece, piece = piece * 3 % 1000 + 1) {
        blake2b.Update(data.data() + at, std::min(piece, data.size() - at));
        sha256.Update(data.data() + at, std::min(piece, data.size() - at));
    }
    const Blake2b512Digest blake2bDigest = blake2b.Final();
    const Sha256Digest sha256Digest = sha256.Final();
    EXPECT_EQ(ToHex(blake2bDigest.data(), blake2bDigest.size()), ToolDigest(dir, "b2sum", "data"));
    EXPECT_EQ(ToHex(sha256Digest.data(), sha256Digest.size()), ToolDigest(dir, "sha256sum", "data"));
}

TEST(CryptoTest, Base64IsExactlyTheStandardPaddedForm)
{
    TempDir dir;
    const std::string data("any bytes \xff\x00\x01 at all", 20);
    dir.Write("data", data);
    ToolRun tool = RunTool(dir.Path(), "base64", {"-w0", "data"});
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
    EXPECT_EQ(EncodeBase64(bytes, data.size()), tool.output);
    EXPECT_EQ(DecodeBase64(tool.output), std::vector<std::uint8_t>(bytes, bytes + data.size()));

    EXPECT_EQ(DecodeBase64(""), std::vector<std::uint8_t>());
    EXPECT_FALSE(DecodeBase64("QUJD\n"));  // trailing garbage, a newline included
    EXPECT_FALSE(DecodeBase64("QUJDRA"));  // unpadded
    EXPECT_FALSE(DecodeBase64("QUJDRA==QUJD"));
    EXPECT_FALSE(DecodeBase64("QUJ-"));  // the URL-safe alphabet
}

}  // namespace
