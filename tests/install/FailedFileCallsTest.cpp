// The installation's staging, journal and moves with one of the platform's file calls failed
// (platform/FileCalls.h): a failure before the journal is on the disk leaves every file as it was
// and says that the steps could not be recorded; one during the moves undoes those made and names
// the file; a hard link the disk cannot make falls back as the journal's replay says it does.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <variant>

#include "install/Installer.h"
#include "tests/support/FileCallFaults.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

// The sentence of a failed installation, or "" when it finished.
class LastSentence : public IInstallSink {
public:
    void OnInstallEvent(const InstallEvent& event) override
    {
        if (const auto* failed = std::get_if<install_event::Failed>(&event))
            sentence = failed->sentence;
    }
    std::string sentence;
};

class FailedFileCallsTest : public ::testing::Test {
protected:
    // a.dat, b.dat and c.dat installed, and their new versions and a new added.dat downloaded.
    void Prepare()
    {
        fs::remove(install.Path() / "added.dat");
        downloads.clear();
        log.sentence.clear();
        for (const char* name : {"a.dat", "b.dat", "c.dat"})
            install.Write(name, std::string("old ") + name);
        for (const char* name : {"a.dat", "b.dat", "c.dat", "added.dat"}) {
            const std::string temp = std::string("tmp/") + name + ".dtm";
            install.Write(temp, std::string("new ") + name);
            downloads.push_back({name, "", name, install.Dir() + temp, std::nullopt});
        }
    }

    bool Install() { return CInstaller(log, SystemInstallFiles()).Install({install.Dir() + "tmp", install.Dir(), false, downloads}); }

    // What each file holds: "old", "new" or "none".
    std::string Versions() const
    {
        std::string versions;
        for (const char* name : {"a.dat", "b.dat", "c.dat", "added.dat"}) {
            const fs::path path = install.Path() / name;
            versions += (!fs::exists(path) ? "none" : ReadWholeFile(path).substr(0, 3)) + " ";
        }
        return versions;
    }
    std::set<std::string> TempEntries() const
    {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(install.Path() / "tmp"))
            names.insert(entry.path().filename().string());
        return names;
    }

    TempDir install;
    LastSentence log;
    std::vector<VerifiedDownload> downloads;
};

constexpr const char* kAsItWas = "old old old none ";
constexpr const char* kAllNew = "new new new new ";

struct Case {
    FileCall call;
    long nth;
    FileError error;
    const char* sentence;  // "" when the installation finishes
    const char* versions;
};

std::ostream& operator<<(std::ostream& os, const Case& c)
{
    return os << "call " << static_cast<int>(c.call) << " #" << c.nth << " error " << static_cast<int>(c.error);
}

TEST_F(FailedFileCallsTest, EachFailedCallLeavesTheInstallationAsItWasOrFallsBackAndSaysSo)
{
    // The calls, in the order an installation makes them: the staging directory is made (a
    // directory); the journal is written (a write), flushed (a flush) and renamed into place (a
    // rename); the directory of replaced files is made; then each file that replaces another has
    // a second name kept (a link) and moves (a rename).
    const Case cases[] = {
        {FileCall::kMakeDirectory, 1, FileError::kAccessDenied, "无法记录安装步骤（没有写入权限），已停止更新。", kAsItWas},
        {FileCall::kWrite, 1, FileError::kDiskFull, "无法记录安装步骤（磁盘空间不足），已停止更新。", kAsItWas},
        {FileCall::kFlush, 1, FileError::kDeviceError, "无法记录安装步骤（磁盘读写出错），已停止更新。", kAsItWas},
        {FileCall::kRename, 1, FileError::kDiskFull, "无法记录安装步骤（磁盘空间不足），已停止更新。", kAsItWas},
        {FileCall::kMakeDirectory, 2, FileError::kDiskFull, "无法记录安装步骤（磁盘空间不足），已停止更新。", kAsItWas},
        {FileCall::kLink, 2, FileError::kDeviceError, "b.dat 无法安装（磁盘读写出错），已停止更新。", kAsItWas},
        {FileCall::kRename, 3, FileError::kDeviceError, "b.dat 无法安装（磁盘读写出错），已停止更新。", kAsItWas},
        // Where the replaced file lies on another disk than its copy, the copy is written whole.
        {FileCall::kLink, 1, FileError::kOtherDisk, "", kAllNew},
#ifndef _WIN32
        {FileCall::kFlushFileSystem, 1, FileError::kDeviceError, "无法记录安装步骤（磁盘读写出错），已停止更新。", kAsItWas},
        // A disk without hard links (FAT): the replaced file steps into staging itself.
        {FileCall::kLink, 1, FileError::kNoHardLinks, "", kAllNew},
#endif
    };
    for (const Case& c : cases) {
        Prepare();
        bool installed = false;
        {
            CFileCallFault fault(c.call, c.nth, c.error);
            installed = Install();
            EXPECT_TRUE(fault.Failed()) << c;
        }
        EXPECT_EQ(installed, *c.sentence == '\0') << c;
        EXPECT_EQ(log.sentence, c.sentence) << c;
        EXPECT_EQ(Versions(), c.versions) << c;
        // Neither the journal nor the staging directory is left; the downloads stay for the next try.
        const std::set<std::string> downloaded = {"a.dat.dtm", "added.dat.dtm", "b.dat.dtm", "c.dat.dtm"};
        EXPECT_EQ(TempEntries(), installed ? std::set<std::string>{} : downloaded) << c;
    }
}

}  // namespace
