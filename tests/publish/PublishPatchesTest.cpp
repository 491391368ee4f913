// The publisher's patches from earlier versions: the real tool run with two earlier builds, each
// listed patch checked against its file and applied, by the program's code and by the zstd tool,
// to the earlier version it names; and the updater bringing an earlier installation up to date
// with them from nginx.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <regex>

#include "delta/ApplyPatch.h"
#include "delta/MakePatch.h"
#include "digest/MD5Checksum.h"
#include "digest/Sha256.h"
#include "platform/Crypto.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "tests/support/RunTool.h"
#include "tests/support/TempDir.h"
#ifndef _WIN32
#include <sys/stat.h>

#include "tests/support/Nginx.h"
#include "tests/support/UpdaterProcess.h"
#endif

namespace fs = std::filesystem;

namespace {

using Attributes = std::map<std::string, std::string>;

// Game records as text: compressible, as real data files are, and each one distinct.
std::string Records(int count, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "record " + std::to_string(i) + " town" + std::to_string(generator() % 300) + " x=" +
                std::to_string(generator() % 5000) + " y=" + std::to_string(generator() % 5000) + "\n";
    return text;
}

// The records with every `step`th one rewritten.
std::string Edited(std::string text, std::size_t step, char mark)
{
    for (std::size_t at = step; at + 8 < text.size(); at += step)
        text.replace(at, 6, std::string(6, mark));
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

std::string Md5(const std::string& bytes)
{
    CMD5Checksum md5;
    md5.Update(bytes.data(), bytes.size());
    return CMD5Checksum::ToHex(md5.Final());
}

std::string Sha256(const std::string& bytes)
{
    CSha256 sha256;
    sha256.Update(bytes.data(), bytes.size());
    const Sha256Digest digest = sha256.Final();
    return ToHex(digest.data(), digest.size());
}

Attributes AttributesOf(const std::string& element)
{
    Attributes attributes;
    static const std::regex pair(R"re((\w+)="([^"]*)")re");
    for (std::sregex_iterator it(element.begin(), element.end(), pair); it != std::sregex_iterator(); ++it)
        attributes[(*it)[1]] = (*it)[2];
    return attributes;
}

// The file's element in the manifest, from "<file" to its end.
std::string ElementOf(const std::string& manifest, const std::string& name)
{
    const std::size_t at = manifest.find("<file filename=\"" + name + "\"");
    if (at == std::string::npos)
        return {};
    const std::size_t close = manifest.find('>', at);
    const std::size_t end = manifest[close - 1] == '/' ? close + 1 : manifest.find("</file>", at) + 7;
    return manifest.substr(at, end - at);
}

std::vector<Attributes> PatchesOf(const std::string& manifest, const std::string& name)
{
    std::vector<Attributes> patches;
    const std::string element = ElementOf(manifest, name);
    static const std::regex patch(R"re(<patch [^>]*/>)re");
    for (std::sregex_iterator it(element.begin(), element.end(), patch); it != std::sregex_iterator(); ++it)
        patches.push_back(AttributesOf(it->str()));
    return patches;
}

std::map<std::string, std::string> Snapshot(const fs::path& dir)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file())
            files[entry.path().lexically_relative(dir).string()] = ReadWholeFile(entry.path());
    return files;
}

std::uint64_t InodeOf(const fs::path& path)
{
    const std::optional<FileStatus> status = GetFileStatus(Utf8OfPath(path));
    return status ? status->facts.nInode : 0;
}

// bin/run.sh's mode in the manifest: Windows keeps no execute bit, so a build published there
// marks no file as a program.
#ifdef _WIN32
constexpr const char* kRunShMode = "";
#else
constexpr const char* kRunShMode = " mode=\"755\"";
#endif

class PublishPatchesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string town = Records(6000, 1);
        const std::string noise = Random(60000, 2);
        const std::string half = Random(60000, 3);
        for (const TempDir* build : {&v1, &v2, &v3}) {
            build->Write("readme.txt", "read me");
            build->Write("data/same.dat", Records(3000, 4));
            build->Write("data/noise.bin", noise);
            build->Write("data/half.bin", half);
        }
        v1.Write("data/town.dat", town);
        v2.Write("data/town.dat", Edited(town, 997, 'a'));
        v3.Write("data/town.dat", Edited(town, 1009, 'b'));
        v3.Write("data/same.dat", Edited(Records(3000, 4), 3001, 'c'));  // v1 and v2 hold one version
        // New bytes where a patch cannot help, and bytes a patch would cut by only a tenth.
        v3.Write("data/noise.bin", Random(60000, 5));
        v3.Write("data/half.bin", half.substr(0, 6000) + Random(54000, 6));
        v3.Write("new.txt", "only in the new build");
        v1.Write("bin/run.sh", "#!/bin/sh\n" + Records(500, 7));
        v3.Write("bin/run.sh", "#!/bin/sh\n" + Edited(Records(500, 7), 5000, 'd'));
#ifndef _WIN32
        ::chmod((v3.Path() / "bin/run.sh").c_str(), 0755);
#endif
    }

    ToolRun Publish(const fs::path& tree, std::vector<std::string> previous)
    {
        std::vector<std::string> arguments{"--version", "3.0"};
        for (const std::string& dir : previous)
            arguments.insert(arguments.end(), {"--previous", dir});
        arguments.insert(arguments.end(), {v3.Path().string(), tree.string()});
        return RunTool(out.Path(), KESU_PUBLISH_EXE, arguments);
    }

    // Each listed patch: its file, its digests, and that it makes the new file from the earlier
    // version it names, applied by the program and by zstd.
    void ExpectSoundPatches(const fs::path& tree, const std::string& name, const std::vector<const TempDir*>& earlier,
                            std::size_t expected)
    {
        const std::string rel = std::regex_replace(name, std::regex(R"(\\)"), "/");
        const std::string current = ReadWholeFile(v3.Path() / rel);
        const std::vector<Attributes> patches = PatchesOf(ReadWholeFile(tree / "update.xml"), name);
        ASSERT_EQ(patches.size(), expected) << name;
        std::map<std::string, fs::path> versions;
        for (const TempDir* build : earlier)
            versions[Md5(ReadWholeFile(build->Path() / rel))] = build->Path() / rel;
        for (std::size_t i = 0; i < patches.size(); ++i) {
            const Attributes& patch = patches[i];
            if (i > 0) {
                EXPECT_LT(patches[i - 1].at("from"), patch.at("from")) << name;  // sorted, none twice
            }
            const std::string bytes = ReadWholeFile(tree / patch.at("filename"));
            EXPECT_EQ(patch.at("filename"), "patches/" + Sha256(bytes) + ".zst");
            EXPECT_EQ(patch.at("filesize"), std::to_string(bytes.size()));
            EXPECT_EQ(patch.at("md5"), Md5(bytes));
            EXPECT_EQ(patch.at("sha256"), Sha256(bytes));
            EXPECT_LE(bytes.size() * 10, current.size() * 8) << name;
            ASSERT_TRUE(versions.contains(patch.at("from"))) << name << " from " << patch.at("from");
            const fs::path old = versions[patch.at("from")];
            const std::string made = (out.Path() / "made").string();
            EXPECT_EQ(ApplyPatch(old.string(), (tree / patch.at("filename")).string(), made, current.size()), std::nullopt);
            EXPECT_EQ(ReadWholeFile(made), current) << name;
            ToolRun zstd = RunTool(out.Path(), "zstd", {"-d", "-q", "-f", "--long=31", "--patch-from=" + old.string(),
                                                        (tree / patch.at("filename")).string(), "-o", made});
            EXPECT_EQ(zstd.status, 0) << zstd.output;
            EXPECT_EQ(ReadWholeFile(made), current) << name << " by zstd";
        }
    }

    TempDir v1, v2, v3;
    TempDir out;
};

TEST_F(PublishPatchesTest, EachChangedFileGetsOnePatchPerEarlierVersionThatApplies)
{
    const fs::path tree = out.Path() / "update";
    const ToolRun run = Publish(tree, {v1.Path().string(), v2.Path().string()});
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("7 written, 0 unchanged, 4 patches;"), std::string::npos) << run.output;
    ExpectSoundPatches(tree, "data\\town.dat", {&v1, &v2}, 2);
    ExpectSoundPatches(tree, "data\\same.dat", {&v1, &v2}, 1);  // one version in two builds
    ExpectSoundPatches(tree, "bin\\run.sh", {&v1}, 1);
    const std::string manifest = ReadWholeFile(tree / "update.xml");
    EXPECT_NE(ElementOf(manifest, "bin\\run.sh").find("\"" + std::string(kRunShMode) + ">\n      <patch from="), std::string::npos)
        << manifest;
    for (const char* unpatched : {"readme.txt", "new.txt", "data\\noise.bin", "data\\half.bin"})
        EXPECT_TRUE(ElementOf(manifest, unpatched).ends_with("\"/>")) << manifest;
    const auto isPatch = [](const fs::directory_entry& entry) { return entry.path().extension() == ".zst"; };
    EXPECT_EQ(std::count_if(fs::directory_iterator(tree / "patches"), fs::directory_iterator(), isPatch), 4);
}

TEST_F(PublishPatchesTest, APatchNotClearlySmallerThanTheFileIsLeftOut)
{
    for (const char* rel : {"data/noise.bin", "data/half.bin"}) {
        const std::string old = ReadWholeFile(v1.Path() / rel), current = ReadWholeFile(v3.Path() / rel);
        EXPECT_GT(MakePatch(old, current).size() * 10, current.size() * 8) << rel;  // what makes them test cases
    }
    EXPECT_LT(MakePatch(ReadWholeFile(v1.Path() / "data/half.bin"), ReadWholeFile(v3.Path() / "data/half.bin")).size(),
              60000u);
    const fs::path tree = out.Path() / "update";
    ASSERT_EQ(Publish(tree, {v1.Path().string()}).status, 0);
    const std::string manifest = ReadWholeFile(tree / "update.xml");
    EXPECT_TRUE(PatchesOf(manifest, "data\\noise.bin").empty()) << manifest;
    EXPECT_TRUE(PatchesOf(manifest, "data\\half.bin").empty()) << manifest;
}

TEST_F(PublishPatchesTest, TheSameInputLeavesEveryByteAsItWas)
{
    const fs::path tree = out.Path() / "update";
    const std::vector<std::string> previous{v2.Path().string(), v1.Path().string()};
    ASSERT_EQ(Publish(tree, previous).status, 0);
    const auto first = Snapshot(tree);
    std::map<fs::path, std::uint64_t> inodes;
    for (const auto& entry : fs::directory_iterator(tree / "patches"))
        inodes[entry.path()] = InodeOf(entry.path());
    ASSERT_EQ(Publish(tree, previous).status, 0);
    EXPECT_EQ(Snapshot(tree), first);
    for (const auto& [path, inode] : inodes)
        EXPECT_EQ(InodeOf(path), inode) << path << " was written again";
    // The earlier builds in the other order, into a fresh tree: the same manifest.
    const fs::path other = out.Path() / "other";
    ASSERT_EQ(Publish(other, {v1.Path().string(), v2.Path().string()}).status, 0);
    EXPECT_EQ(ReadWholeFile(other / "update.xml"), first.at("update.xml"));
}

TEST_F(PublishPatchesTest, WithoutEarlierVersionsTheManifestIsAsBefore)
{
    const fs::path tree = out.Path() / "update";
    ASSERT_EQ(Publish(tree, {}).status, 0);
    std::string expected = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<manifest>\n  <filelist>\n";
    for (const char* rel : {"bin/run.sh", "data/half.bin", "data/noise.bin", "data/same.dat", "data/town.dat",
                            "new.txt", "readme.txt"}) {
        const std::string bytes = ReadWholeFile(v3.Path() / rel);
        expected += "    <file filename=\"" + std::regex_replace(std::string(rel), std::regex("/"), "\\") +
                    "\" filesize=\"" + std::to_string(bytes.size()) + "\" fileversion=\"3.0\" md5=\"" + Md5(bytes) +
                    "\" sha256=\"" + Sha256(bytes) + "\"" + (rel == std::string("bin/run.sh") ? kRunShMode : "") +
                    "/>\n";
    }
    EXPECT_EQ(ReadWholeFile(tree / "update.xml"), expected + "  </filelist>\n</manifest>\n");
    EXPECT_FALSE(fs::exists(tree / "patches"));
}

TEST_F(PublishPatchesTest, TheTreeItselfMayHoldTheEarlierVersion)
{
    const fs::path tree = out.Path() / "update";
    ASSERT_EQ(RunTool(out.Path(), KESU_PUBLISH_EXE, {"--package", v2.Path().string(), tree.string()}).status, 0);
    ASSERT_EQ(Publish(tree, {tree.string()}).status, 0);
    ExpectSoundPatches(tree, "data\\town.dat", {&v2}, 1);
    ExpectSoundPatches(tree, "data\\same.dat", {&v2}, 1);
    EXPECT_EQ(ReadWholeFile(tree / "data/town.dat"), ReadWholeFile(v3.Path() / "data/town.dat"));
}

TEST_F(PublishPatchesTest, TheUpdaterTakesThePatchesFromNginx)
{
#ifdef _WIN32
    GTEST_SKIP() << "the Windows build makes no updater program yet";
#else
    if (NginxBinary().empty())
        GTEST_SKIP() << "nginx is not installed";
    const fs::path tree = out.Path() / "site/update";
    ASSERT_EQ(Publish(tree, {v1.Path().string()}).status, 0);
    ::chmod(out.Path().c_str(), 0755);
    Nginx nginx((out.Path() / "site").string());
    TempDir install;
    fs::copy(v1.Path(), install.Path(), fs::copy_options::recursive);
    fs::copy_file(KESU_EXE, install.Path() / "KesuUpdate.exe");
    install.Write("pirvex.dll",
                  "[Download]\nsite1=127.0.0.1:" + std::to_string(nginx.Port()) + "\n[Setup]\nTempDir=tmp\n");
    const UpdaterOutput run = RunUpdater(install.Path());
    ASSERT_EQ(run.status, 0) << run.output;
    for (const auto& [rel, bytes] : Snapshot(v3.Path()))
        EXPECT_EQ(ReadWholeFile(install.Path() / rel), bytes) << rel;
    const std::vector<std::string> asked = nginx.RequestedPaths();
    const auto wasAsked = [&](const std::string& path) {
        return std::find(asked.begin(), asked.end(), "/update/" + path) != asked.end();
    };
    const std::string manifest = ReadWholeFile(tree / "update.xml");
    for (const char* patched : {"data\\town.dat", "data\\same.dat", "bin\\run.sh"}) {
        EXPECT_TRUE(wasAsked(PatchesOf(manifest, patched).at(0).at("filename"))) << patched;
        EXPECT_FALSE(wasAsked(std::regex_replace(patched, std::regex(R"(\\)"), "/"))) << patched;
    }
    EXPECT_TRUE(wasAsked("data/noise.bin"));
#endif
}

TEST_F(PublishPatchesTest, AMissingEarlierDirectoryStopsBeforeAnythingIsWritten)
{
    const fs::path tree = out.Path() / "update";
    const std::string missing = (out.Path() / "v0").string();
    const ToolRun run = Publish(tree, {v1.Path().string(), missing});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "kesu-publish: " + missing + ": no such directory to patch from\n");
    EXPECT_FALSE(fs::exists(tree));
}

}  // namespace
