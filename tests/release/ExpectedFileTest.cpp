// The digests a release states are compared as digests: the case of their letters and blanks
// around them, which hand-edited manifests have, do not make a file differ.

#include <gtest/gtest.h>

#include "release/ExpectedFile.h"

namespace {

TEST(ExpectedFileTest, ADigestIsComparedWithoutCaseAndSurroundingBlanks)
{
    const std::string digest = "900150983cd24fb0d6963f7d28e17f72";
    for (const char* written : {"900150983cd24fb0d6963f7d28e17f72", "900150983CD24FB0D6963F7D28E17F72",
                                " \t900150983cd24fb0d6963f7d28e17f72\r\n", "  900150983Cd24fb0d6963f7d28e17f72 "})
        EXPECT_EQ(NormalizedDigest(written), digest) << written;
    EXPECT_EQ(NormalizedDigest(" \t\r\n"), "");
    EXPECT_EQ(NormalizedDigest("90 01"), "90 01");  // blanks inside are part of it: no digest has them
}

}  // namespace
