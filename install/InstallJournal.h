#pragma once
// The journal of an installation: the renames that put the staged files in place, written to the
// temporary directory before the first of them and removed after the last. A run killed in
// between leaves it behind, and the next start finishes the installation from it.
//
// Paths are relative to the installation directory, with '/' between directories, so a journal
// still holds when the player moves the whole game elsewhere. Its text, one step a line, fields
// separated by tabs:
//
//   KesuUpdate installation journal 1
//   staging   tmp/.KesuUpdate.staging
//   move      tmp/data_map_town.dat.dtm   data/map/town.dat
//   setaside  4   KesuUpdate_old.exe
//   md5       <digest of every byte above this line>
//
// '%', tab, CR and LF within a field are written %25, %09, %0D and %0A. A journal that does not
// end with the digest of the rest (cut short, damaged, of another format) is never carried out.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "policy/Policy.h"

struct JournalMove {
    std::string source;       // a staged file
    std::string destination;  // what it replaces or becomes
};

struct InstallJournal {
    std::string staging;  // where the files that the moves replace are kept meanwhile
    std::vector<JournalMove> moves;
    // The move that replaces the running executable, whose old copy is then set aside under this
    // name; none when the update does not bring a new copy.
    std::optional<std::size_t> setAsideMove;
    std::string setAside;
};

std::string JournalText(const InstallJournal& journal);
// The journal the text holds; nothing, with the reason for the log in `why`, when it holds none whole.
std::optional<InstallJournal> ParseJournal(std::string_view text, std::string& why);

// The path relative to the installation directory, as the journal keeps it, and back.
std::string JournalPath(const std::string& installDir, const std::string& path);
std::string InstallationPath(const std::string& installDir, const std::string& journalPath);

// Writes the journal whole and durably: its bytes, then its name, then its directory reach the
// disk before this returns. False, with errno set, when any of that failed; no journal is left then.
bool WriteJournal(const std::string& path, const InstallJournal& journal);

struct JournalOnDisk {
    enum State { kNone, kDamaged, kFound } state = kNone;
    InstallJournal journal;
    std::string why;  // kDamaged: what is wrong with it, for the log
};
JournalOnDisk ReadJournal(const std::string& path);
// Removes the journal and writes its directory to the disk; false when the journal stays.
bool RemoveJournal(const std::string& path);
