#include "install/JournalReplay.h"

#include <cerrno>
#include <cstring>

#include "install/InstallMessages.h"
#include "platform/Executable.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"

namespace {

bool IsRealDirectory(const std::string& path)
{
    return PathIsDirectory(path) && !PathIsSymbolicLink(path);
}

// Gives the file the move replaces a second name in staging (a copy, when it lies on another
// file system), or steps it into staging (`stepAside`: the running program, where the system
// lets a running program's file be renamed but not replaced); 0, or why that failed.
int KeepReplaced(const std::string& destination, const std::string& copy, bool stepAside, IInstallFiles& files)
{
    // Nothing at the destination and a copy kept: the copy is the replaced file itself, which
    // left its name when an undo or a step into staging was cut off. It stays the one to restore.
    if (!PathNameExists(destination))
        return 0;
    // A copy already kept is the replaced file too: the move comes only after it. A move onto
    // another file system cut off after its copy took the destination's name, but before its
    // staged file went, leaves the new file at the destination and the old one only here.
    if (PathNameExists(copy))
        return 0;
    if (IsRealDirectory(destination))
        return EISDIR;
    if (stepAside)
        return files.Rename(destination, copy) ? 0 : errno;
    if (files.KeepSecondName(destination, copy))
        return 0;
    // A file system without hard links (FAT): the file steps into staging itself. The journal
    // covers the moment the name is empty; an undo or the next start puts a file there again.
    if (errno != EPERM && errno != EOPNOTSUPP)
        return errno;
    return files.Rename(destination, copy) ? 0 : errno;
}

// The file `name` (as the journal names it) could not be put in place: said in the log, the cause
// ending in the system's words for the error.
JournalFailure NotInPlace(const std::string& name, const std::string& cause, int error, std::optional<std::size_t> move)
{
    JournalFailure failed{{CannotInstallSentence(name, error), cause + std::strerror(error)}, move, error};
    LogLine(failed.failure.strCause);
    return failed;
}

// Puts a kept file back over whatever stands at the destination now: nothing (after an undo, or
// a move that failed after its file stepped aside), the replaced file itself (a move not made;
// its second name is then dropped), or the new file (a move onto another file system cut off
// after its copy took the name, with its staged file still there). False when it is there and
// cannot be put back.
bool RestoreReplaced(const std::string& destination, const std::string& copy, IInstallFiles& files)
{
    if (!PathNameExists(copy) || files.Move(copy, destination))
        return true;
    LogLine("the old " + destination + " could not be put back from " + copy + ": " + std::strerror(errno));
    return false;
}

std::optional<JournalFailure> Move(const InstallJournal& journal, const std::string& installDir, std::size_t index,
                                   IInstallFiles& files)
{
    const JournalMove& move = journal.moves[index];
    const std::string source = InstallationPath(installDir, move.source);
    const std::string destination = InstallationPath(installDir, move.destination);
    if (!PathNameExists(source))
        return std::nullopt;  // done before
    const std::string copy = ReplacedCopyPath(journal, installDir, index);
    const bool runningProgram = journal.setAsideMove == index;
    int error = KeepReplaced(destination, copy, runningProgram && !kRunningProgramCanBeReplaced, files);
    if (error == 0 && !files.Move(source, destination)) {
        error = errno;
        RestoreReplaced(destination, copy, files);
    }
    if (error != 0)
        return NotInPlace(move.destination, move.destination + " could not be put in place: ", error, index);
    return std::nullopt;
}

// The running executable's old copy, kept by its move, takes the set-aside name: the old one
// stays runnable as it was, beside the new one that has taken the program's name.
std::optional<JournalFailure> SetAside(const InstallJournal& journal, const std::string& installDir, IInstallFiles& files)
{
    if (!journal.setAsideMove)
        return std::nullopt;
    const std::string copy = ReplacedCopyPath(journal, installDir, *journal.setAsideMove);
    if (!PathNameExists(copy) || files.Rename(copy, InstallationPath(installDir, journal.setAside)))
        return std::nullopt;
    const int error = errno;
    return NotInPlace(journal.setAside, "the old program could not be set aside as " + journal.setAside + ": ", error,
                      std::nullopt);
}

}  // namespace

JournalFailure JournalNotWritten(const std::string& cause, int error)
{
    JournalFailure failed{{JournalNotWrittenSentence(error), cause + std::strerror(error)}, std::nullopt, error};
    LogLine(failed.failure.strCause);
    return failed;
}

std::string ReplacedCopyPath(const InstallJournal& journal, const std::string& installDir, std::size_t index)
{
    return InstallationPath(installDir, journal.staging) + "/replaced/" + std::to_string(index);
}

std::optional<JournalFailure> RollForward(const InstallJournal& journal, const std::string& installDir, IInstallFiles& files)
{
    const std::string replaced = InstallationPath(installDir, journal.staging) + "/replaced";
    if (int error = files.MakeDirectory(replaced))
        return JournalNotWritten("the directory " + replaced + " for the files an update replaces cannot be made: ", error);
    for (std::size_t i = 0; i < journal.moves.size(); ++i) {
        if (std::optional<JournalFailure> failure = Move(journal, installDir, i, files))
            return failure;
    }
    return SetAside(journal, installDir, files);
}

bool Undo(const InstallJournal& journal, const std::string& installDir, IInstallFiles& files)
{
    bool whole = true;
    for (std::size_t i = journal.moves.size(); i-- > 0;) {
        const std::string source = InstallationPath(installDir, journal.moves[i].source);
        const std::string destination = InstallationPath(installDir, journal.moves[i].destination);
        if (!PathNameExists(source) && !files.Move(destination, source)) {
            LogLine("the new " + journal.moves[i].destination + " could not be taken back: " + std::strerror(errno));
            whole = false;
            continue;
        }
        whole = RestoreReplaced(destination, ReplacedCopyPath(journal, installDir, i), files) && whole;
    }
    return whole;
}
