// Patches made here and by the zstd tool, applied here and by the zstd tool; a patch handed out
// a piece at a time is the one made whole.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "delta/ApplyPatch.h"
#include "delta/MakePatch.h"
#include "platform/FileSystem.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

namespace {

std::string Random(std::size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator());
    return bytes;
}

// The old bytes with a hundred short runs changed here and there, and some appended.
std::string Edited(std::string bytes)
{
    std::mt19937 generator(7);
    for (int i = 0; i < 100; ++i)
        bytes.replace(generator() % (bytes.size() - 64), 64, Random(64, generator()));
    return bytes + Random(5000, 9);
}

class PatchTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir.Dir() + name; }
    TempDir dir;
    const std::string old = Random(3u << 20, 1);
    const std::string current = Edited(old);
};

TEST_F(PatchTest, APatchMadeHereIsSmallAndRebuildsTheFileHereAndWithTheZstdTool)
{
    const std::string patch = MakePatch(old, current);
    EXPECT_LT(patch.size(), 20000u);  // what changed, not the file
    EXPECT_EQ(MakePatch(old, current), patch);  // the same bytes every time
    dir.Write("old", old);
    dir.Write("patch.zst", patch);
    ASSERT_EQ(ApplyPatch(Path("old"), Path("patch.zst"), Path("new"), current.size()), std::nullopt);
    EXPECT_TRUE(ReadWholeFile(Path("new")) == current);

    const ToolRun zstd = RunTool(dir.Path(), "zstd", {"-q", "-d", "--patch-from=old", "patch.zst", "-o", "by-zstd"});
    ASSERT_EQ(zstd.status, 0) << zstd.output;
    EXPECT_TRUE(ReadWholeFile(Path("by-zstd")) == current);
}

TEST_F(PatchTest, APatchMadeByTheZstdToolIsApplied)
{
    dir.Write("old", old);
    dir.Write("new", current);
    const ToolRun zstd = RunTool(dir.Path(), "zstd", {"-q", "-19", "--long=31", "--patch-from=old", "new", "-o", "patch.zst"});
    ASSERT_EQ(zstd.status, 0) << zstd.output;
    ASSERT_EQ(ApplyPatch(Path("old"), Path("patch.zst"), Path("made"), current.size()), std::nullopt);
    EXPECT_TRUE(ReadWholeFile(Path("made")) == current);
}

TEST_F(PatchTest, APatchThatCannotMakeTheFileFailsAndLeavesNothing)
{
    const std::string patch = MakePatch(old, current);
    dir.Write("old", old);
    dir.Write("patch.zst", patch);
    std::string damaged = patch;
    damaged[damaged.size() / 2] ^= 0x55;
    dir.Write("damaged.zst", damaged);
    dir.Write("other-old", Random(old.size(), 2));
    dir.Write("not-a-patch", "plain text");
    struct Case {
        const char* oldName;
        const char* patchName;
        std::uint64_t size;
    } cases[] = {
        {"old", "damaged.zst", current.size()},
        {"other-old", "patch.zst", current.size()},  // the frame's checksum fails
        {"old", "not-a-patch", current.size()},
        {"old", "patch.zst", current.size() + 1},
        {"missing", "patch.zst", current.size()},
    };
    for (const Case& c : cases) {
        const std::optional<std::string> failure = ApplyPatch(Path(c.oldName), Path(c.patchName), Path("out"), c.size);
        ASSERT_TRUE(failure) << c.oldName << " " << c.patchName;
        EXPECT_FALSE(PathFileExists(Path("out"))) << c.oldName << " " << c.patchName << ": " << *failure;
    }
}

TEST_F(PatchTest, APatchHandedOutInPiecesIsTheWholeOneAndRebuildsTheFile)
{
    std::string streamed;
    std::size_t pieces = 0;
    const bool whole = MakePatch(old, current, PatchSettings{}, [&](const char* data, std::size_t size) {
        streamed.append(data, size);
        ++pieces;
        return true;
    });
    ASSERT_TRUE(whole);
    EXPECT_EQ(streamed, MakePatch(old, current));
    dir.Write("old", old);
    dir.Write("patch.zst", streamed);
    ASSERT_EQ(ApplyPatch(Path("old"), Path("patch.zst"), Path("new"), current.size()), std::nullopt);
    EXPECT_TRUE(ReadWholeFile(Path("new")) == current);
    const ToolRun zstd =
        RunTool(dir.Path(), "zstd", {"-q", "-d", "--long=31", "--patch-from=old", "patch.zst", "-o", "by-zstd"});
    ASSERT_EQ(zstd.status, 0) << zstd.output;
    EXPECT_TRUE(ReadWholeFile(Path("by-zstd")) == current);
}

TEST_F(PatchTest, TheBytesAreTheSameWhereverTheVersionsLieInMemory)
{
    const std::string apart = MakePatch(old, current);
    // The old version right before the new one, as two maps may happen to lie.
    const std::string together = old + current;
    const std::string_view oldThere(together.data(), old.size()), currentThere(together.data() + old.size(), current.size());
    EXPECT_TRUE(MakePatch(oldThere, currentThere) == apart);
    EXPECT_NE(MakePatch(old, current, {3}), apart);  // the level does change them
}

TEST_F(PatchTest, AnOutputThatWantsNoMoreEndsTheMaking)
{
    const std::string unrelated = Random(1u << 20, 3);
    std::size_t received = 0;
    const bool whole = MakePatch(unrelated, current, {}, [&](const char*, std::size_t size) {
        received += size;
        return received < 4096;
    });
    EXPECT_FALSE(whole);
    EXPECT_LT(received, MakePatch(unrelated, current).size());  // zstd made no more of it
}

TEST(PatchLevels, AreZstdsFromOneOn)
{
    EXPECT_FALSE(IsPatchLevel(0));
    EXPECT_FALSE(IsPatchLevel(-5));
    EXPECT_TRUE(IsPatchLevel(1));
    EXPECT_TRUE(IsPatchLevel(kDefaultPatchLevel));
    EXPECT_TRUE(IsPatchLevel(22));
    EXPECT_FALSE(IsPatchLevel(23));
    EXPECT_EQ(PatchLevelRange(), "1 to 22");
    EXPECT_NE(PatchRecipe({12}), PatchRecipe({13}));
    EXPECT_EQ(PatchRecipe({12}), PatchRecipe({12}));
}

}  // namespace
