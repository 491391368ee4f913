// The words of the progress line without a display; the program's own runs are in
// ProgramEndToEndTest.

#include <gtest/gtest.h>

#include "app/ConsoleProgress.h"
#include "sentences/Sentences.h"

namespace {

TEST(ConsoleProgressTest, SizesReadInTheUnitThatSuitsThemBeyond4GiBToo)
{
    EXPECT_EQ(sentence::ReadableSize(0), "0 B");
    EXPECT_EQ(sentence::ReadableSize(1023), "1023 B");
    EXPECT_EQ(sentence::ReadableSize(1024), "1.0 KB");
    EXPECT_EQ(sentence::ReadableSize(23962), "23.4 KB");
    EXPECT_EQ(sentence::ReadableSize(1048575), "1.0 MB");  // never "1024.0 KB"
    EXPECT_EQ(sentence::ReadableSize(5ull << 30), "5.0 GB");

    EXPECT_EQ(ProgressLine("game.zip", 4ull << 30, 6ull << 30, 4ull << 30, 6ull << 30),
              "game.zip  4.0 GB of 6.0 GB  (update: 66%)");
    EXPECT_EQ(ProgressLine("game.zip", 700, 0, 700, 0), "game.zip  700 B");  // no size announced
}

}  // namespace
