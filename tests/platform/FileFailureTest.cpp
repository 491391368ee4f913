// The file system refusing: a full disk, a read-only mount, a missing parent, a directory where a
// file goes, a move to another file system of what cannot be copied. Each call says that it
// failed and why (errno, or the exception's text), and what was there stays.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/MappedFile.h"
#include "platform/TextEncoding.h"
#include "tests/support/SmallFileSystem.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

std::set<std::string> Names(const fs::path& directory)
{
    std::set<std::string> names;
    for (const auto& item : fs::directory_iterator(directory))
        names.insert(item.path().filename().string());
    return names;
}

// A directory on a small file system of its own, beside a directory on the usual one.
class OtherDiskTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!small.Mounted())
            GTEST_SKIP() << "no file system can be mounted here";
    }

    std::string Here(const std::string& name) const { return (dir.Path() / name).string(); }
    std::string There(const std::string& name) const { return (disk / name).string(); }

    TempDir dir;
    fs::path disk = dir.Path() / "disk";
    SmallFileSystem small{disk, "512k"};
};

TEST_F(OtherDiskTest, AMoveOntoAFullDiskFailsAndKeepsBothFiles)
{
    std::ofstream(There("game.bin")) << "installed before";
    const std::string big(2 << 20, 'x');
    std::ofstream(Here("game.bin.dtm")) << big;

    errno = 0;
    EXPECT_FALSE(MoveFileEx(Here("game.bin.dtm"), There("game.bin"), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED));
    EXPECT_EQ(errno, ENOSPC);
    errno = 0;
    EXPECT_FALSE(MoveOver(Here("game.bin.dtm"), There("game.bin")));
    EXPECT_EQ(errno, ENOSPC);
    errno = 0;
    EXPECT_FALSE(KeepSecondName(Here("game.bin.dtm"), There("kept.bin")));
    EXPECT_EQ(errno, ENOSPC);

    EXPECT_EQ(ReadWholeFile(Here("game.bin.dtm")), big);
    EXPECT_EQ(ReadWholeFile(There("game.bin")), "installed before");
    EXPECT_EQ(Names(disk), std::set<std::string>{"game.bin"});  // no partial copy fills the disk
}

TEST_F(OtherDiskTest, ALinkMovedToAnotherDiskIsMadeAgainThere)
{
    fs::create_symlink("data/x.dat", There("current"));
    std::ofstream(Here("current")) << "installed before";
    EXPECT_TRUE(MoveOver(There("current"), Here("current")));
    EXPECT_EQ(fs::read_symlink(Here("current")), "data/x.dat");
    EXPECT_FALSE(PathNameExists(There("current")));

    fs::create_symlink("../elsewhere", There("second"));
    EXPECT_TRUE(KeepSecondName(There("second"), Here("second")));
    EXPECT_EQ(fs::read_symlink(Here("second")), "../elsewhere");
    EXPECT_EQ(fs::read_symlink(There("second")), "../elsewhere");  // the first name stays
}

TEST_F(OtherDiskTest, WhatCannotBeMadeOnTheOtherDiskStaysWhereItWas)
{
    fs::create_symlink("game.bin", There("current"));
    // No directory to make the link in.
    errno = 0;
    EXPECT_FALSE(MoveOver(There("current"), Here("missing/current")));
    EXPECT_EQ(errno, ENOENT);
    // A folder with the player's files where the link goes.
    fs::create_directory(Here("current"));
    std::ofstream(Here("current/save.dat")) << "the player's save";
    errno = 0;
    EXPECT_FALSE(MoveOver(There("current"), Here("current")));
    EXPECT_TRUE(errno == EISDIR || errno == ENOTEMPTY) << errno;
    EXPECT_EQ(ReadWholeFile(Here("current/save.dat")), "the player's save");
    EXPECT_EQ(Names(Here("current")), std::set<std::string>{"save.dat"});
    // A directory is no file to copy.
    fs::create_directory(There("folder"));
    errno = 0;
    EXPECT_FALSE(MoveOver(There("folder"), Here("folder")));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_FALSE(PathNameExists(Here("folder")));

    EXPECT_EQ(fs::read_symlink(There("current")), "game.bin");
    EXPECT_TRUE(fs::is_directory(There("folder")));
    EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"current", "disk"}));  // nothing half made
}

TEST_F(OtherDiskTest, AReplacingMoveFromAReadOnlyDiskFailsWithoutTouchingTheTarget)
{
    std::ofstream(There("game.bin.dtm")) << "new";
    ASSERT_EQ(std::system(("mount -o remount,ro '" + disk.string() + "'").c_str()), 0);
    std::ofstream(Here("game.bin")) << "installed before";
    ::chmod(Here("game.bin").c_str(), 0750);
    errno = 0;
    EXPECT_FALSE(MoveFileEx(There("game.bin.dtm"), Here("game.bin"), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED));
    EXPECT_EQ(errno, EROFS);
    EXPECT_EQ(ReadWholeFile(Here("game.bin")), "installed before");
    EXPECT_EQ(GetFileMode(Here("game.bin")), 0750u);
    EXPECT_EQ(ReadWholeFile(There("game.bin.dtm")), "new");

    // Nor can a file or a link be moved onto it.
    fs::create_symlink("game.bin", Here("current"));
    for (const char* name : {"game.bin", "current"}) {
        errno = 0;
        EXPECT_FALSE(MoveOver(Here(name), There(name))) << name;
        EXPECT_EQ(errno, EROFS) << name;
        EXPECT_TRUE(PathNameExists(Here(name))) << name;
    }
    EXPECT_EQ(Names(disk), std::set<std::string>{"game.bin.dtm"});
}

TEST_F(OtherDiskTest, AMappedFileLargerThanTheDiskFailsWhenMadeNotWhenWritten)
{
    try {
        CMappedFile::Create(There("out.bin"), 4 << 20);
        ADD_FAILURE() << "four megabytes fit on a disk of half a megabyte";
    } catch (const CFileException& e) {
        EXPECT_EQ(e.GetErrno(), ENOSPC);
        EXPECT_NE(e.GetErrorMessage().find(There("out.bin")), std::string::npos) << e.GetErrorMessage();
    }
    // The blocks taken before the failure are free again.
    CMappedFile fits = CMappedFile::Create(There("out.bin"), 256 << 10);
    EXPECT_EQ(fits.Size(), 256u << 10);
}

TEST(MappedFileTest, EmptyFilesDirectoriesAndMissingParents)
{
    TempDir dir;
    CMappedFile empty = CMappedFile::Read(dir.Write("empty.bin", ""));
    EXPECT_EQ(empty.Size(), 0u);
    CMappedFile made = CMappedFile::Create(dir.Dir() + "made.bin", 0);
    EXPECT_EQ(made.Size(), 0u);
    EXPECT_EQ(fs::file_size(dir.Path() / "made.bin"), 0u);

    dir.Write("folder/inside.txt", "kept");
    const struct {
        std::function<void()> call;
        int error;
    } failures[] = {
        {[&] { CMappedFile::Read(dir.Dir() + "folder"); }, EISDIR},
        {[&] { CMappedFile::Read(dir.Dir() + "missing.bin"); }, ENOENT},
        {[&] { CMappedFile::Create(dir.Dir() + "folder", 10); }, EISDIR},
        {[&] { CMappedFile::Create(dir.Dir() + "missing/out.bin", 10); }, ENOENT},
    };
    for (const auto& failure : failures) {
        try {
            failure.call();
            ADD_FAILURE() << "no failure, expected errno " << failure.error;
        } catch (const CFileException& e) {
            EXPECT_EQ(e.GetErrno(), failure.error) << e.what();
        }
    }
    EXPECT_EQ(ReadWholeFile(dir.Path() / "folder/inside.txt"), "kept");
}

TEST(FileTest, KeepingTheFirstBytesNeverGrowsTheFile)
{
    // A resumed download keeps what it had; a length it never had is refused, not zero-filled.
    TempDir dir;
    const std::string path = dir.Write("game.bin.dtm", "0123456789");
    {
        CFile file(path, CFile::modeReadWrite | CFile::modeKeep);
        try {
            file.KeepFirst(11);
            ADD_FAILURE() << "a longer length was kept";
        } catch (const CFileException& e) {
            EXPECT_EQ(e.GetErrno(), ESPIPE);
        }
        file.KeepFirst(4);
        file.Write("abc", 3);
    }
    EXPECT_EQ(ReadWholeFile(path), "0123abc");
    CFile readOnly(path, CFile::modeRead);
    EXPECT_THROW(readOnly.KeepFirst(2), CFileException);
    EXPECT_EQ(ReadWholeFile(path), "0123abc");
}

TEST(FileSystemTest, QuestionsAboutPathsThatAreNotThere)
{
    TempDir dir;
    dir.Write("file.txt", "f");
    fs::create_symlink("file.txt", dir.Path() / "link");
    fs::create_symlink("missing", dir.Path() / "dangling");
    EXPECT_TRUE(PathIsRegularFile(dir.Dir() + "file.txt"));
    EXPECT_TRUE(PathIsRegularFile(dir.Dir() + "link"));
    EXPECT_FALSE(PathIsRegularFile(dir.Dir() + "dangling"));
    EXPECT_FALSE(PathIsRegularFile(dir.Dir()));
    EXPECT_FALSE(PathIsRegularFile(dir.Dir() + "missing"));

    EXPECT_FALSE(GetFileSystemSpace(dir.Dir() + "missing"));
    EXPECT_FALSE(SyncFileSystem(dir.Dir() + "missing"));
    EXPECT_TRUE(SyncFileSystem(dir.Dir()));
    // A directory that cannot be opened cannot be locked by another updater either.
    EXPECT_TRUE(LockDirectoryForProcess(dir.Dir() + "missing"));
}

TEST(FileSystemTest, AMoveOfBareNamesSyncsTheCurrentDirectory)
{
    TempDir dir;
    dir.Write("game.bin.dtm", "new");
    char previous[4096];
    ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(::chdir(dir.Path().c_str()), 0);
    const bool moved = MoveFileEx("game.bin.dtm", "game.bin", MOVEFILE_WRITE_THROUGH);
    ASSERT_EQ(::chdir(previous), 0);
    EXPECT_TRUE(moved);
    EXPECT_EQ(ReadWholeFile(dir.Path() / "game.bin"), "new");
}

TEST(TextEncodingTest, Utf8IsTakenExactlyAndWhatIsNotGbkIsNotConverted)
{
    const struct {
        const char* bytes;
        bool utf8;
    } cases[] = {
        {"\xE0\xA0\x80", true},           // U+0800, the first three-byte character
        {"\xE0\x9F\xBF", false},          // U+07FF written long
        {"\xED\x9F\xBF", true},           // U+D7FF, below the surrogates
        {"\xED\xA0\x80", false},          // a surrogate
        {"\xF0\x90\x80\x80", true},       // U+10000
        {"\xF0\x8F\xBF\xBF", false},      // U+FFFF written long
        {"\xF3\xBF\xBF\xBF", true},       // U+FFFFF
        {"\xF4\x8F\xBF\xBF", true},       // U+10FFFF, the last character
        {"\xF4\x90\x80\x80", false},      // past U+10FFFF
        {"\xF5\x80\x80\x80", false},      // a byte that starts nothing
        {"\xE6\xB7\x41", false},          // a continuation that is none
        {"\xF0\x9F\x8E", false},          // cut short
        {"ok \xC3\xA9", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsValidUtf8(c.bytes), c.utf8) << c.bytes;

    EXPECT_EQ(GbkToUtf8("\x9C\x5C\xC9\xAB.txt"), "\xE6\xB7\xBA\xE8\x89\xB2.txt");
    EXPECT_FALSE(GbkToUtf8("\x9C"));           // a lead byte with no trail
    EXPECT_FALSE(GbkToUtf8("ab\xFF" "cd"));    // 0xFF is no GBK byte
}

}  // namespace
