// The manifest's format both ways: what the publisher's writer writes, the updater's reader reads
// back as the same files, whatever their names, modes, patches and sizes.

#include <gtest/gtest.h>

#include "manifest/ManifestReader.h"
#include "manifest/ManifestWriter.h"

namespace {

const std::string kMd5 = "900150983cd24fb0d6963f7d28e17f72";
const std::string kSha256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

ListedPatch Patch(const std::string& from, const std::string& name, std::uint64_t size)
{
    return {from, name, size, kMd5, kSha256};
}

// Files a real release holds: Chinese names, nested directories, characters XML escapes (those
// Windows takes in a file's name; the patch's name has the others), a program, a file at the
// largest size the format states, and files with patches.
std::vector<ListedFile> Release()
{
    return {
        {"KesuUpdate.exe", 812345, kMd5, kSha256, 0755, {}},
        {"data\\map\\town.dat", 4294967295u, kMd5, kSha256, 0644,
         {Patch("0cc175b9c0f1b6a831c399e269772661", "patches/aa.zst", 1234),
          Patch("92eb5ffee6ae2fec3ad71c777531578f", "patches/bb.zst", 4294967295u)}},
        {"地图\\新 文件.dat", 0, kMd5, kSha256, 0600, {}},
        {"a&b 'e'.txt", 3, kMd5, kSha256, 0700, {Patch(kMd5, "patches/c&d <f> \"g\".zst", 7)}},
        {"tools/run.sh", 10, kMd5, kSha256, 0750, {}},
    };
}

TEST(ManifestFormatTest, WhatTheWriterWritesTheReaderReadsBackTheSame)
{
    const std::vector<ListedFile> files = Release();
    const ManifestListing listing = ReadManifest(WriteManifest(files, "2.0 \"beta\" & <more>"));
    ASSERT_TRUE(listing.bIsManifest) << listing.strNotAManifest;
    EXPECT_FALSE(listing.rejection);
    ASSERT_EQ(listing.entries.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        const ListedFile& file = files[i];
        const ManifestEntry& entry = listing.entries[i];
        SCOPED_TRACE(file.name);
        EXPECT_EQ(entry.strName, file.name);
        EXPECT_EQ(entry.expected.nSize, file.size);
        EXPECT_EQ(entry.expected.strMd5, file.md5);
        EXPECT_EQ(entry.expected.strSha256, file.sha256);
        // Only a program's bits are written: the others are installed with the default mode.
        EXPECT_EQ(EntryMode(entry), file.mode & 0111 ? std::optional<unsigned>(file.mode) : std::nullopt);
        ASSERT_EQ(entry.patches.size(), file.patches.size());
        for (std::size_t p = 0; p < file.patches.size(); ++p) {
            const ListedPatch& patch = file.patches[p];
            const std::optional<tagPatchSource> source = PatchFrom(entry, patch.from);
            ASSERT_TRUE(source) << patch.from;
            EXPECT_EQ(source->strName, patch.name);
            EXPECT_EQ(source->nSize, patch.size);
            EXPECT_EQ(source->strMd5, patch.md5);
            EXPECT_EQ(source->strSha256, patch.sha256);
        }
    }
}

TEST(ManifestFormatTest, APatchIsOfferedOnlyForTheVersionItWasMadeFrom)
{
    const ManifestListing listing = ReadManifest(WriteManifest(Release(), "2.0"));
    ASSERT_EQ(listing.entries.size(), 5u);
    const ManifestEntry& town = listing.entries[1];
    EXPECT_FALSE(PatchFrom(town, kMd5));
    EXPECT_FALSE(PatchFrom(town, ""));
    EXPECT_EQ(PatchFrom(town, "92eb5ffee6ae2fec3ad71c777531578f")->strName, "patches/bb.zst");
    EXPECT_FALSE(PatchFrom(listing.entries[0], kMd5));
}

}  // namespace
