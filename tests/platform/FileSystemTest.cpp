#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

#include "platform/AtomicFile.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "tests/support/TempDir.h"
#include "tests/support/Unprivileged.h"

namespace fs = std::filesystem;

namespace {

TEST(PathTest, BackslashesBecomeSlashes)
{
    EXPECT_EQ(ToNativePath("C:\\game\\data/map\\town.dat"), "C:/game/data/map/town.dat");
    EXPECT_EQ(ToNativePath(".\\pirvex.dll"), "./pirvex.dll");
}

TEST(FileSystemTest, DirectoriesAreMadeOneLevelAtATime)
{
    TempDir dir;
    EXPECT_FALSE(CreateDirectory(dir.Dir() + "a\\b"));
    EXPECT_FALSE(PathIsDirectory(dir.Dir() + "a"));
    EXPECT_TRUE(CreateDirectory(dir.Dir() + "a"));
    EXPECT_TRUE(CreateDirectory(dir.Dir() + "a\\b"));
    EXPECT_TRUE(PathIsDirectory(dir.Dir() + "a/b"));
    EXPECT_TRUE(PathFileExists(dir.Dir() + "a\\b"));
    EXPECT_FALSE(CreateDirectory(dir.Dir() + "a"));
    EXPECT_FALSE(DeleteFile(dir.Dir() + "a"));
}

TEST(FileSystemTest, AnAtomicFileReplacesItsTargetWholeOrLeavesNoTrace)
{
    TempDir dir;
    const std::string target = dir.Write("target.bin", "old");
    {
        CAtomicFile dropped(target);
        dropped.Write("half", 4);
    }  // never committed
    EXPECT_EQ(ReadWholeFile(target), "old");
    {
        CAtomicFile file(target);
        file.Write("new contents", 12);
        EXPECT_EQ(ReadWholeFile(target), "old");  // not before it is complete
        file.Commit(true);
    }
    EXPECT_EQ(ReadWholeFile(target), "new contents");
    // A rename that fails (a directory holds the name) throws with the system's text, and the
    // temporary file goes.
    const std::string occupied = dir.Write("occupied/inside.txt", "x");
    CAtomicFile blocked(dir.Dir() + "occupied");
    blocked.Write("x", 1);
    EXPECT_THROW(blocked.Commit(false), CFileException);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"occupied", "target.bin"}));
}

TEST(FileSystemTest, ReplacingMoveKeepsTheReplacedFilesPermissions)
{
    TempDir dir;
    std::string installed = dir.Write("game.bin", "old");
    ::chmod(installed.c_str(), 0755);
    std::string download = dir.Write("game.bin.dtm", "new");
    ::chmod(download.c_str(), 0600);

    EXPECT_FALSE(MoveFileEx(download, installed, MOVEFILE_WRITE_THROUGH));  // no replacing asked
    EXPECT_EQ(ReadWholeFile(installed), "old");
    EXPECT_TRUE(MoveFileEx(download, installed, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED));
    EXPECT_EQ(ReadWholeFile(installed), "new");
    EXPECT_EQ(GetFileMode(installed), 0755u);
    EXPECT_FALSE(PathFileExists(download));
    EXPECT_FALSE(MoveFileEx(download, installed, MOVEFILE_REPLACE_EXISTING));  // source gone
}

TEST(FileSystemTest, MoveAcrossFileSystemsCopiesAndRemovesTheSource)
{
    TempDir dir;
    std::string source = "/dev/shm/kesu-move-test";
    struct stat shm {}, tmp {};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(dir.Path().c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev)
        GTEST_SKIP() << "no second file system to move across";
    std::string target = dir.Write("target.bin", "old");
    ::chmod(target.c_str(), 0751);
    {
        CFile file(source, CFile::modeCreate | CFile::modeReadWrite);
        file.Write("moved across", 12);
    }
    EXPECT_FALSE(MoveFileEx(source, target, MOVEFILE_REPLACE_EXISTING));  // copying not allowed
    EXPECT_TRUE(MoveFileEx(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH));
    EXPECT_EQ(ReadWholeFile(target), "moved across");
    EXPECT_EQ(GetFileMode(target), 0751u);
    EXPECT_FALSE(PathFileExists(source));
    EXPECT_EQ(ReadWholeFile(dir.Path() / "target.bin"), "moved across");
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        ++files;
    EXPECT_EQ(files, 1);  // no staging copy left beside it
}

TEST(FileSystemTest, ALinkIsRenamedItselfAndAHardLinkKeepsAReplacedFile)
{
    TempDir dir;
    // A link that leads nowhere moves as the name it is, where a move of what it names fails.
    std::filesystem::create_symlink("missing", dir.Path() / "dangling");
    EXPECT_FALSE(MoveFileEx(dir.Dir() + "dangling", dir.Dir() + "moved", 0));
    EXPECT_TRUE(PathNameExists(dir.Dir() + "dangling"));
    EXPECT_FALSE(PathFileExists(dir.Dir() + "dangling"));
    EXPECT_TRUE(RenameOver(dir.Dir() + "dangling", dir.Dir() + "moved"));
    EXPECT_TRUE(std::filesystem::is_symlink(dir.Path() / "moved"));

    // The second name still holds the old contents after a rename replaced the first.
    dir.Write("file", "old");
    dir.Write("next", "new");
    EXPECT_TRUE(CreateHardLink(dir.Dir() + "file", dir.Dir() + "kept"));
    EXPECT_FALSE(CreateHardLink(dir.Dir() + "file", dir.Dir() + "kept"));
    EXPECT_TRUE(RenameOver(dir.Dir() + "next", dir.Dir() + "file"));
    EXPECT_EQ(ReadWholeFile(dir.Path() / "file"), "new");
    EXPECT_EQ(ReadWholeFile(dir.Path() / "kept"), "old");
    EXPECT_TRUE(SyncDirectory(dir.Dir()));
    EXPECT_FALSE(SyncDirectory(dir.Dir() + "missing"));
}

TEST(FileTest, OpenFailuresThrowWithTheSystemsText)
{
    TempDir dir;
    for (const std::string& path : {dir.Dir() + "missing.bin", dir.Dir()}) {
        try {
            CFile file(path, CFile::modeRead);
            ADD_FAILURE() << path << " opened";
        } catch (const CFileException& e) {
            EXPECT_NE(e.GetErrorMessage().find(path), std::string::npos);
        }
    }
    CFileException error(0, "");
    CFile file;
    EXPECT_FALSE(file.Open(dir.Dir() + "no\\such\\dir.dtm", CFile::modeCreate | CFile::modeReadWrite, &error));
    EXPECT_EQ(error.GetErrno(), ENOENT);
    // The message names the path as the system writes it.
    EXPECT_NE(error.GetErrorMessage().find(dir.Dir() + "no/such/dir.dtm: No such file or directory"), std::string::npos)
        << error.GetErrorMessage();
}

// A game installed by another user: the player may read its directory, not write in it.
TEST(FileSystemTest, ADirectoryOfAnotherUsersTellsThatItCannotBeWrittenAndKeepsNoTrace)
{
    TempDir dir;
    ::chmod(dir.Path().c_str(), 0755);
    fs::create_directory(dir.Path() / "game");
    fs::create_directory(dir.Path() / "shared");
    ::chmod((dir.Path() / "shared").c_str(), 0777);
    const int result = RunUnprivileged([&] {
        const std::optional<int> game = DirectoryWriteError(dir.Dir() + "game");
        return game == EACCES && !DirectoryWriteError(dir.Dir() + "shared") ? 0 : 1;
    });
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(DirectoryWriteError(dir.Dir() + "game"));
    EXPECT_TRUE(fs::is_empty(dir.Path() / "game"));
    EXPECT_TRUE(fs::is_empty(dir.Path() / "shared"));
}

TEST(FileTest, CreateEmptiesAnExistingFile)
{
    TempDir dir;
    std::string path = dir.Write("a.dtm", "previous contents");
    CFile file(path, CFile::modeCreate | CFile::modeReadWrite);
    file.Write("new", 3);
    file.Close();
    EXPECT_EQ(ReadWholeFile(path), "new");
}

}  // namespace

TEST(PathTest, SplitAtTheLastSeparatorOfEitherKind)
{
    struct Case {
        const char* path;
        const char* directory;
        const char* name;
    } cases[] = {
        {"town.dat", "", "town.dat"},
        {"data\\map/town.dat", "data\\map/", "town.dat"},
        {"data/map\\town.dat", "data/map\\", "town.dat"},
        {"/KesuUpdate.exe", "/", "KesuUpdate.exe"},
        {"data\\", "data\\", ""},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        const SplitPath split = SplitAtLastSeparator(c.path);
        EXPECT_EQ(split.directory, c.directory) << c.path;
        EXPECT_EQ(split.name, c.name) << c.path;
        EXPECT_EQ(PathFindFileName(c.path), c.name) << c.path;
    }
}
