// The publisher's patches across runs and settings: a rerun takes the patches its record names
// instead of making them again, unless their files are gone or changed; the same inputs give the
// same patch, at the level asked for; an earlier version too big for a patch gets none, and the
// output says so.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <regex>

#include "delta/MakePatch.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "publish/Publisher.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// Game records as text: compressible, as real data files are, and each one distinct.
std::string Records(int count, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "record " + std::to_string(i) + " town" + std::to_string(generator() % 300) + " x=" +
                std::to_string(generator() % 5000) + "\n";
    return text;
}

std::string Random(std::size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator());
    return bytes;
}

std::string Edited(std::string text, char mark)
{
    for (std::size_t at = 1000; at + 8 < text.size(); at += 1000)
        text.replace(at, 6, std::string(6, mark));
    return text;
}

// The identity of a file on the disk: a file written again, even with the same bytes, has
// another inode (file index) or modification time.
struct Identity {
    std::uint64_t inode = 0;
    std::uint64_t modifiedNs = 0;
    bool operator==(const Identity&) const = default;
};

Identity IdentityOf(const fs::path& path)
{
    const std::optional<FileStatus> status = GetFileStatus(Utf8OfPath(path));
    return status ? Identity{status->facts.nInode, status->facts.nModifiedNs} : Identity{};
}

std::vector<std::string> PatchNames(const std::string& manifest)
{
    std::vector<std::string> names;
    static const std::regex patch(R"re(filename="(patches/[0-9a-f]+\.zst)")re");
    for (std::sregex_iterator it(manifest.begin(), manifest.end(), patch); it != std::sregex_iterator(); ++it)
        names.push_back((*it)[1]);
    return names;
}

class PublishPatchRerunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        v1.Write("data/town.dat", town);
        v2.Write("data/town.dat", Edited(town, 'a'));
        v1.Write("data/noise.bin", Random(40000, 2));
        v2.Write("data/noise.bin", Random(40000, 3));
    }

    ToolRun Publish(const fs::path& tree, std::vector<std::string> extra = {})
    {
        extra.insert(extra.end(), {"--previous", v1.Path().string(), v2.Path().string(), tree.string()});
        return RunTool(out.Path(), KESU_PUBLISH_EXE, extra);
    }

    // The one patch the tree's manifest lists.
    fs::path OnlyPatch(const fs::path& tree)
    {
        const std::vector<std::string> names = PatchNames(ReadWholeFile(tree / "update.xml"));
        EXPECT_EQ(names.size(), 1u);
        return names.empty() ? fs::path() : tree / names[0];
    }

    const std::string town = Records(4000, 1);
    TempDir v1, v2, out;
};

TEST_F(PublishPatchRerunTest, ARerunTakesThePatchFromTheRecordWithoutWritingAnything)
{
    const fs::path tree = out.Path() / "update";
    const ToolRun first = Publish(tree);
    ASSERT_EQ(first.status, 0) << first.output;
    EXPECT_NE(first.output.find(", 1 patch;"), std::string::npos) << first.output;
    const fs::path patch = OnlyPatch(tree), record = tree / "patches/record.tsv";
    ASSERT_TRUE(fs::exists(record));
    const Identity patchBefore = IdentityOf(patch), recordBefore = IdentityOf(record);
    const std::string manifest = ReadWholeFile(tree / "update.xml");

    const ToolRun second = Publish(tree);
    ASSERT_EQ(second.status, 0) << second.output;
    EXPECT_NE(second.output.find(", 1 patch (1 reused);"), std::string::npos) << second.output;
    EXPECT_EQ(IdentityOf(patch), patchBefore);
    EXPECT_EQ(IdentityOf(record), recordBefore);
    EXPECT_EQ(ReadWholeFile(tree / "update.xml"), manifest);
    // No temporary file was left behind, nor another patch.
    EXPECT_EQ(std::distance(fs::directory_iterator(tree / "patches"), fs::directory_iterator()), 2);
}

TEST_F(PublishPatchRerunTest, ARecordWhosePatchIsGoneOrOfAnotherSizeIsNotTrusted)
{
    const fs::path tree = out.Path() / "update";
    ASSERT_EQ(Publish(tree).status, 0);
    const fs::path patch = OnlyPatch(tree);
    const std::string bytes = ReadWholeFile(patch);

    fs::remove(patch);
    const ToolRun missing = Publish(tree);
    ASSERT_EQ(missing.status, 0) << missing.output;
    EXPECT_NE(missing.output.find(", 1 patch;"), std::string::npos) << missing.output;  // made again
    EXPECT_EQ(OnlyPatch(tree), patch);
    EXPECT_EQ(ReadWholeFile(patch), bytes);

    fs::resize_file(patch, bytes.size() - 1);
    const ToolRun shorter = Publish(tree);
    ASSERT_EQ(shorter.status, 0) << shorter.output;
    EXPECT_NE(shorter.output.find(", 1 patch;"), std::string::npos) << shorter.output;
    EXPECT_EQ(ReadWholeFile(patch), bytes);  // whole again
}

TEST_F(PublishPatchRerunTest, TheSameInputsGiveTheSamePatchAsMadeInMemory)
{
    const fs::path a = out.Path() / "a", b = out.Path() / "b";
    ASSERT_EQ(Publish(a).status, 0);
    ASSERT_EQ(Publish(b).status, 0);
    EXPECT_EQ(OnlyPatch(a).filename(), OnlyPatch(b).filename());
    EXPECT_EQ(ReadWholeFile(a / "update.xml"), ReadWholeFile(b / "update.xml"));
    // The tool's threads, maps and pieces change nothing: it is the patch made whole in memory.
    EXPECT_TRUE(ReadWholeFile(OnlyPatch(a)) == MakePatch(town, Edited(town, 'a'), {kDefaultPatchLevel}));
}

TEST_F(PublishPatchRerunTest, ThePatchLevelIsTheOneAskedFor)
{
    const fs::path fast = out.Path() / "fast", usual = out.Path() / "usual";
    ASSERT_EQ(Publish(fast, {"--patch-level", "1"}).status, 0);
    ASSERT_EQ(Publish(usual).status, 0);
    const std::string current = Edited(town, 'a');
    EXPECT_TRUE(ReadWholeFile(OnlyPatch(fast)) == MakePatch(town, current, {1}));
    EXPECT_NE(OnlyPatch(fast).filename(), OnlyPatch(usual).filename());

    // Over the tree of another level, nothing is reused: the level is part of the record's key.
    const ToolRun other = Publish(fast);
    ASSERT_EQ(other.status, 0) << other.output;
    EXPECT_NE(other.output.find(", 1 patch;"), std::string::npos) << other.output;
    EXPECT_EQ(OnlyPatch(fast).filename(), OnlyPatch(usual).filename());
}

TEST_F(PublishPatchRerunTest, ABadPatchLevelIsRefusedBeforeAnythingIsWritten)
{
    const fs::path tree = out.Path() / "update";
    for (const char* level : {"0", "23", "-1", "fast", "12x", ""}) {
        const ToolRun run = Publish(tree, {"--patch-level", level});
        EXPECT_EQ(run.status, 2) << level;
        EXPECT_EQ(run.output, "kesu-publish: --patch-level " + std::string(level) + ": not a zstd level from 1 to 22\n");
        EXPECT_FALSE(fs::exists(tree)) << level;
    }
    PublishOptions options;
    options.buildDir = v2.Path().string();
    options.treeDir = tree.string();
    options.patchLevel = 40;
    EXPECT_EQ(::Publish(options).error, "patch level 40: not a zstd level from 1 to 22");
    EXPECT_FALSE(fs::exists(tree));
}

TEST_F(PublishPatchRerunTest, APatchNotWorthKeepingIsReported)
{
    const ToolRun run = Publish(out.Path() / "update");
    ASSERT_EQ(run.status, 0) << run.output;
    const std::string note = "\n    no patch from " + (v1.Path() / "data/noise.bin").string() +
                             ": a patch would be more than 80 % of the file\n";
    EXPECT_NE(run.output.find(note), std::string::npos) << run.output;
}

TEST_F(PublishPatchRerunTest, AnEarlierVersionTooBigForAPatchGetsNoneAndIsReported)
{
    const std::string bigOld = Records(8000, 4);
    v1.Write("data/big.dat", bigOld);
    v2.Write("data/big.dat", Edited(bigOld, 'b'));
    PublishOptions options;
    options.buildDir = v2.Path().string();
    options.treeDir = (out.Path() / "update").string();
    options.previousDirs = {v1.Path().string()};
    options.patchableOldSizeMax = town.size();  // town.dat may have its patch, big.dat not
    std::map<std::string, std::vector<std::string>> notes;
    const PublishResult result = ::Publish(options, [&](std::size_t, std::size_t, const PublishedFile& file) {
        notes[file.name] = file.patchNotes;
    });
    ASSERT_EQ(result.error, std::nullopt);
    const auto big = std::find_if(result.files.begin(), result.files.end(),
                                  [](const PublishedFile& file) { return file.name == "data\\big.dat"; });
    const auto patched = std::find_if(result.files.begin(), result.files.end(),
                                      [](const PublishedFile& file) { return file.name == "data\\town.dat"; });
    ASSERT_NE(big, result.files.end());
    ASSERT_NE(patched, result.files.end());
    EXPECT_TRUE(big->patches.empty());
    EXPECT_EQ(patched->patches.size(), 1u);
    const std::string expected = "no patch from " + (v1.Path() / "data/big.dat").string() + ": it is " +
                                 std::to_string(bigOld.size()) + " bytes, beyond the " + std::to_string(town.size()) +
                                 " bytes a patch can reach back";
    EXPECT_EQ(notes["data\\big.dat"], std::vector<std::string>{expected});
    EXPECT_TRUE(notes["data\\town.dat"].empty());
}

}  // namespace
