// Base64, keys and signatures over libsodium, held against coreutils' base64 and known values.

#include <gtest/gtest.h>

#include "platform/Crypto.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

namespace {

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
