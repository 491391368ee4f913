// BLAKE2b and SHA-256, held against coreutils' b2sum and sha256sum.

#include <gtest/gtest.h>

#include "digest/Blake2b.h"
#include "digest/Sha256.h"
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

TEST(DigestsTest, DigestsFedInPiecesMatchCoreutils)
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

}  // namespace
