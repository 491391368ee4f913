#include "install/JournaledInstall.h"

#include <cerrno>
#include <cstring>

#include "install/InstallStaging.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/Path.h"

namespace {

// After the moves: one flush of the installation's file system writes every directory they
// changed, for far less than a flush of each, before the journal that describes them goes. A
// failed flush is said and passed over: the files are in place, and the disk's own error will
// show again.
void MakeDurable(const std::string& installDir, IInstallFiles& files)
{
    if (!files.FlushFileSystem(installDir))
        LogLine("the installation " + installDir + " could not be flushed to its disk: " + std::strerror(errno));
}

std::optional<JournalFailure> CarryOut(const InstallJournal& journal, const std::string& path, const std::string& installDir,
                                       IInstallFiles& files)
{
    std::optional<JournalFailure> failure = RollForward(journal, installDir, files);
    if (failure && !Undo(journal, installDir, files)) {
        LogLine("the installation journal " + path + " is kept: the next start finishes the update from it");
        return failure;
    }
    if (!failure)
        MakeDurable(installDir, files);
    if (!RemoveJournal(path))
        LogLine("the installation journal " + path + " could not be removed: " + std::strerror(errno));
    RemoveStaging(InstallationPath(installDir, journal.staging));
    return failure;
}

}  // namespace

std::optional<JournalFailure> InstallByJournal(const InstallJournal& journal, const std::string& tempDir,
                                               const std::string& installDir, IInstallFiles& files)
{
    const std::string staging = InstallationPath(installDir, journal.staging);
    if (journal.moves.empty()) {
        RemoveStaging(staging);
        return std::nullopt;
    }
    const std::string path = PathInDirectory(tempDir, kJournalName);
    // The staged files reach the disk before the journal names them: one flush of their file
    // system writes them all, where a flush of each costs a hundred times more.
    if (!files.FlushFileSystem(staging) || !WriteJournal(path, journal)) {
        const int error = errno;
        JournalFailure failed = JournalNotWritten("the installation journal " + path + " could not be written: ", error);
        RemoveStaging(staging);
        return failed;
    }
    return CarryOut(journal, path, installDir, files);
}

std::optional<std::string> FinishInterruptedInstallation(const std::string& tempDir, const std::string& installDir, IInstallFiles& files)
{
    const std::string path = PathInDirectory(tempDir, kJournalName);
    JournalOnDisk found = ReadJournal(path);
    // The staging directory is removed with all it holds once the journal is done: one of
    // another name is no staging directory of this program's.
    if (found.state == JournalOnDisk::kFound && PathFindFileName(found.journal.staging) != kStagingName) {
        found.state = JournalOnDisk::kDamaged;
        found.why = "it names " + found.journal.staging + " as its staging directory";
    }
    if (found.state == JournalOnDisk::kDamaged) {
        LogLine("the installation journal " + path + " is not used and is removed, as " + found.why +
                "; each file is wholly old or wholly new, and the check finds those still old");
        RemoveJournal(path);
    }
    std::optional<JournalFailure> failure;
    if (found.state == JournalOnDisk::kFound) {
        LogNote("finishing the installation a stopped run left: " + std::to_string(found.journal.moves.size()) + " moves");
        failure = CarryOut(found.journal, path, installDir, files);
    }
    if (!PathNameExists(path))
        RemoveStaleLeftovers(tempDir, installDir);
    if (!failure) {
        if (found.state == JournalOnDisk::kFound)
            LogNote("the stopped installation is finished");
        return std::nullopt;
    }
    return failure->failure.strSentence;
}
