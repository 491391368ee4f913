#pragma once
// An installation carried out through its journal: a new one once its files are staged, or, at
// the next start, one that a killed run left unfinished. Both end the same way: every file new
// and the journal and staging directory gone, or, after a step that failed, every file as it
// was before the update. Every change the moves make to the disk goes through the IInstallFiles
// given (the system's unless a test or the crash tests choose another).

#include <optional>
#include <string>

#include "install/InstallFiles.h"
#include "install/InstallJournal.h"
#include "install/JournalReplay.h"

// Writes the staged files to the disk, then the journal, carries it out and removes it with the
// staging directory. Nothing on success; else the step that failed, with every move already done
// undone. When an undo is incomplete (each file that could not be put back is in the log) the
// journal stays, and the next start finishes the update from it.
std::optional<JournalFailure> InstallByJournal(const InstallJournal& journal, const std::string& tempDir,
                                               const std::string& installDir,
                                               IInstallFiles& files = SystemInstallFiles());

// For the start of a run, before anything else: finishes the installation a killed run left
// (without downloading anything again), ignores and removes a journal that cannot be trusted,
// and removes what a run killed before its journal was written left behind. Nothing when nothing
// was left unfinished or all is finished now; else the sentence for the player, with the
// installation as it was before that update.
std::optional<std::string> FinishInterruptedInstallation(const std::string& tempDir, const std::string& installDir,
                                          IInstallFiles& files = SystemInstallFiles());
