// The platform's table of file calls with one entry swapped for a scope: the calls of CFile and
// CAtomicFile go through it, fail as the system's would, are counted, and the system's call is
// back once the scope ends.

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "platform/AtomicFile.h"
#include "platform/File.h"
#include "tests/support/FileCallFaults.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

TEST(FileCallsTest, TheThirdWriteFindsTheDiskFullAndTheSystemsWriteIsBackAfterTheScope)
{
    TempDir dir;
    const std::string path = (dir.Path() / "game.bin").string();
    CFile file(path, CFile::modeCreate | CFile::modeReadWrite);
    {
        CFileCallFault full(FileCall::kWrite, 3, FileError::kDiskFull);
        file.Write("one ", 4);
        file.Write("two ", 4);
        try {
            file.Write("three ", 6);
            ADD_FAILURE() << "the third write went through";
        } catch (const CFileException& e) {
            EXPECT_EQ(e.GetErrno(), ENOSPC);
            EXPECT_EQ(e.GetErrorMessage(), CFileException(ENOSPC, path).GetErrorMessage());
        }
        EXPECT_EQ(full.Calls(), 3);
    }
    file.Write("four", 4);
    file.Close();
    EXPECT_EQ(ReadWholeFile(path), "one two four");
}

// An atomic file whose rename into place fails leaves the target as it was and nothing beside
// it. Windows tries a rename again while access is denied, as a virus scanner's look at a new
// file denies it for a moment: one denial is ridden out there.
TEST(FileCallsTest, AnAtomicFileWhoseRenameFailsLeavesTheTargetAsItWas)
{
    struct Case {
        FileError error;
        int expectedErrno;  // 0: the file was committed
        long renames;
    } cases[] = {
        {FileError::kDeviceError, EIO, 1},
#ifdef _WIN32
        {FileError::kAccessDenied, 0, 2},
#else
        {FileError::kAccessDenied, EACCES, 1},
#endif
    };
    for (const Case& c : cases) {
        TempDir dir;
        dir.Write("settings.ini", "old");
        const std::string target = (dir.Path() / "settings.ini").string();
        int failure = 0;
        CFileCallFault refused(FileCall::kRename, 1, c.error);
        try {
            CAtomicFile file(target);
            file.Write("new", 3);
            file.Commit(true);
        } catch (const CFileException& e) {
            failure = e.GetErrno();
        }
        EXPECT_EQ(failure, c.expectedErrno);
        EXPECT_EQ(refused.Calls(), c.renames);
        EXPECT_EQ(ReadWholeFile(target), c.expectedErrno ? "old" : "new");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
    }
}

}  // namespace
