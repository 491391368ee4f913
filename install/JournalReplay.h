#pragma once
// Carrying out an installation's journal, from wherever an earlier attempt stopped: a move whose
// staged file is gone was done. Before each move the file it replaces gets a second name in the
// staging directory (a hard link), so that an undo can bring it back; each move itself is one
// rename, so every file is at every instant wholly old or wholly new. A destination on another
// file system (below a folder the player moved to another disk and linked back) is reached by a
// copy that is renamed over it, and the staged file goes only once that copy is on the disk; the
// file it replaces is kept as a copy in staging.
//
// Every change to the disk goes through the IInstallFiles given (install/InstallFiles.h).
//
// Failures are written to the log in English where they happen, before an undo adds its own
// lines, and returned with the player's sentence; the caller tells the player.

#include <optional>
#include <string>

#include "install/InstallFiles.h"
#include "install/InstallJournal.h"
#include "sentences/Failure.h"

// A step that failed. The failure's sentence names the file as the journal does (relative to the
// installation), or the journal itself for a step of its own; its cause is in the log already.
// A failed move says which one it was, with the system's errno, so that the caller can name its
// file as the player knows it (a download's name, a package's entry: CannotInstallSentence).
struct JournalFailure {
    Failure failure;
    std::optional<std::size_t> move;
    int error = 0;
};

// A step of the journal's own that failed (writing the journal, making a directory beside it):
// `cause` ends in ": ", and the system's words for the error follow it in the log.
JournalFailure JournalNotWritten(const std::string& cause, int error);

// Does every move not yet done, in order, then sets the running executable's old copy aside.
// Nothing when all is done; else the step that failed, with the moves before it still done.
std::optional<JournalFailure> RollForward(const InstallJournal& journal, const std::string& installDir,
                                         IInstallFiles& files = SystemInstallFiles());

// Takes every move that was done back, the last first: the new file returns to its staged name
// and the file it replaced to its own. False when some file could not be put back (each is in
// the log); the journal then still describes what is where.
bool Undo(const InstallJournal& journal, const std::string& installDir, IInstallFiles& files = SystemInstallFiles());

// Where the file that move `index` replaces is kept until the installation is over.
std::string ReplacedCopyPath(const InstallJournal& journal, const std::string& installDir, std::size_t index);
