// Windows' own rules in the platform layer: UTF-8 names and long paths reach the wide API, a file
// another program holds fails with EBUSY, read-only files do not stop an update, the directory
// lock meets two spellings of one directory, programs are PE32+ images for this machine, GBK is
// code page 936, and a started program reads back the arguments it was given.
// Built for Windows only.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "platform/AtomicFile.h"
#include "platform/Executable.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Process.h"
#include "platform/TextEncoding.h"
#include "platform/win32/Wide.h"
#include "tests/support/TempDir.h"

namespace {

std::string ReadUtf8Named(const std::string& path)
{
    return ReadWholeFile(PathFromUtf8(path));
}

void WriteWhole(const std::string& path, const std::string& text)
{
    CFile file(path, CFile::modeCreate | CFile::modeReadWrite);
    file.Write(text.data(), text.size());
    file.Close();
}

TEST(Win32FileSystemTest, ChineseNamesAndPathsBeyondMaxPathWork)
{
    TempDir dir;
    std::string deep = dir.Dir() + "游戏";
    while (deep.size() < 400)
        deep += "/一个很长的目录名字";
    ASSERT_TRUE(CreateDirectoryWithParents(deep));
    const std::string file = deep + "/地图.dat";
    WriteWhole(file, "town");
    EXPECT_TRUE(PathIsRegularFile(file));
    EXPECT_EQ(GetFileStatus(file)->facts.nSize, 4u);
    ASSERT_TRUE(RenameOver(file, deep + "/新地图.dat"));
    CFile renamed(deep + "/新地图.dat", CFile::modeRead);
    char text[8] = {};
    EXPECT_EQ(renamed.Read(text, sizeof text), 4u);
    EXPECT_STREQ(text, "town");
}

TEST(Win32FileSystemTest, ADirectoryNamedWithATrailingSeparatorIsFlushedWhole)
{
    // The program names directories with a separator at their end, the installation's too.
    TempDir dir;
    ASSERT_TRUE(CreateDirectoryWithParents(dir.Dir() + "data"));
    WriteWhole(dir.Dir() + "data/town.dat", "town");
    EXPECT_TRUE(SyncFileSystem(dir.Dir()));
    EXPECT_TRUE(SyncFileSystem(dir.Dir() + "data\\"));
}

TEST(Win32FileSystemTest, AFileAnotherProgramHoldsFailsWithEbusy)
{
    TempDir dir;
    const std::string game = dir.Dir() + "game.exe";
    WriteWhole(game, "MZ");
    // As the running game holds it: no sharing at all.
    const HANDLE held = ::CreateFileW(WidePath(game).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    errno = 0;
    EXPECT_FALSE(DeleteFile(game));
    EXPECT_EQ(errno, EBUSY);
    WriteWhole(dir.Dir() + "new.exe", "MZ new");
    errno = 0;
    EXPECT_FALSE(RenameOver(dir.Dir() + "new.exe", game));
    EXPECT_EQ(errno, EBUSY);
    // Flushing the installation passes over what another program holds: nothing of ours is in it.
    EXPECT_TRUE(SyncFileSystem(dir.Dir()));
    ::CloseHandle(held);
    EXPECT_TRUE(RenameOver(dir.Dir() + "new.exe", game));
    EXPECT_EQ(ReadUtf8Named(game), "MZ new");
}

TEST(Win32FileSystemTest, TheProgramsOwnOpenFileCanBeRenamed)
{
    TempDir dir;
    WriteWhole(dir.Dir() + "a.dat", "a");
    CFile open(dir.Dir() + "a.dat", CFile::modeRead);
    EXPECT_TRUE(RenameOver(dir.Dir() + "a.dat", dir.Dir() + "b.dat"));
    EXPECT_FALSE(PathNameExists(dir.Dir() + "a.dat"));
}

TEST(Win32FileSystemTest, ReadOnlyFilesAreReplacedAndDeleted)
{
    TempDir dir;
    const std::string target = dir.Dir() + "config.ini";
    WriteWhole(target, "old");
    ASSERT_TRUE(SetFileMode(target, 0444));
    EXPECT_EQ(GetFileMode(target), 0444);
    {
        CAtomicFile file(target);
        file.Write("new", 3);
        file.Commit(true);
    }
    EXPECT_EQ(ReadUtf8Named(target), "new");
    EXPECT_EQ(GetFileMode(target), 0666);
    ASSERT_TRUE(SetFileMode(target, 0444));
    WriteWhole(dir.Dir() + "replacement", "newer");
    // A file that replaces another takes over its read-only attribute.
    ASSERT_TRUE(MoveFileEx(dir.Dir() + "replacement", target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(GetFileMode(target), 0444);
    EXPECT_TRUE(DeleteFile(target));
    EXPECT_FALSE(PathNameExists(target));
    EXPECT_EQ(GetFileMode(dir.Dir()), 0777);
}

TEST(Win32FileSystemTest, ACreatedFileReplacesWhatHadTheName)
{
    TempDir dir;
    const std::string path = dir.Dir() + "a.dat";
    WriteWhole(path, "old contents");
    ASSERT_TRUE(SetFileMode(path, 0444));
    WriteWhole(path, "new");
    EXPECT_EQ(ReadUtf8Named(path), "new");
    CFileException error(0, path);
    CFile file;
    EXPECT_FALSE(file.Open(dir.Dir(), CFile::modeRead, &error));
    EXPECT_EQ(error.GetErrno(), EISDIR);
    EXPECT_FALSE(file.Open(dir.Dir() + "missing", CFile::modeRead, &error));
    EXPECT_EQ(error.GetErrno(), ENOENT);
}

TEST(Win32FileSystemTest, TheDirectoryLockMeetsTwoSpellingsOfOneDirectory)
{
    TempDir dir;
    ASSERT_TRUE(LockDirectoryForProcess(dir.Dir()));
    std::string otherSpelling = dir.Dir() + "sub\\..\\";
    std::replace(otherSpelling.begin(), otherSpelling.end(), '/', '\\');
    ASSERT_TRUE(CreateDirectory(dir.Dir() + "sub"));
    EXPECT_FALSE(LockDirectoryForProcess(otherSpelling, std::chrono::milliseconds(50)));
    EXPECT_TRUE(LockDirectoryForProcess(dir.Dir() + "sub"));
}

TEST(Win32FileSystemTest, AProgramForThisMachineIsAPe32PlusImageOfItsMachine)
{
    TempDir dir;
    const std::string self = GetModuleFileName();
    EXPECT_EQ(NotAnExecutableForThisMachine(self), std::nullopt);
    std::string image = ReadUtf8Named(self).substr(0, kExecutableHeadSize);
    EXPECT_EQ(NotAnExecutableHeadForThisMachine(image), std::nullopt);
    const std::size_t pe = static_cast<unsigned char>(image[0x3C]) | static_cast<unsigned char>(image[0x3D]) << 8;
    std::string arm = image;
    arm[pe + 4] = '\x64';  // IMAGE_FILE_MACHINE_ARM64 (0xAA64)
    arm[pe + 5] = '\xAA';
    EXPECT_EQ(NotAnExecutableHeadForThisMachine(arm), "it is a program for another kind of machine");
    EXPECT_EQ(NotAnExecutableHeadForThisMachine("MZ not really"), "it is not an executable program");
    WriteWhole(dir.Dir() + "text.exe", "hello");
    EXPECT_EQ(NotAnExecutableForThisMachine(dir.Dir() + "text.exe"), "it is not an executable program");
}

TEST(Win32TextEncodingTest, GbkIsCodePage936)
{
    EXPECT_EQ(GbkToUtf8("\xD6\xD0\xCE\xC4 ok"), "中文 ok");
    EXPECT_EQ(GbkToUtf8("\x81"), std::nullopt);  // a lead byte without its second
}

// Run as a started program: writes the arguments it was given, one a line, where the
// environment says.
TEST(Win32ArgumentEcho, WritesItsArguments)
{
    const char* to = std::getenv("KESU_ECHO_ARGUMENTS_TO");
    if (!to)
        GTEST_SKIP() << "only as a started program";
    std::string text;
    for (int i = 2; i < __argc; ++i)
        text += std::string("[") + __argv[i] + "]\n";
    CAtomicFile file(ToNativePath(to));
    file.Write(text.data(), text.size());
    file.Commit(false);
}

TEST(Win32ProcessTest, AStartedProgramReadsBackItsArguments)
{
    TempDir dir;
    const std::string echo = dir.Dir() + "arguments.txt";
    ASSERT_EQ(::_putenv_s("KESU_ECHO_ARGUMENTS_TO", echo.c_str()), 0);
    const std::vector<std::string> arguments = {"--gtest_filter=Win32ArgumentEcho.*", "two words", "a\"quote",
                                                "ends\\", "back\\\\\"slash", "", "plain"};
    ASSERT_TRUE(StartProgram(GetModuleFileName(), arguments));
    ::_putenv_s("KESU_ECHO_ARGUMENTS_TO", "");
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!PathFileExists(echo) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(ReadUtf8Named(echo), "[two words]\n[a\"quote]\n[ends\\]\n[back\\\\\"slash]\n[]\n[plain]\n");
}

}  // namespace
