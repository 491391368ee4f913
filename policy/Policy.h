#pragma once
// What the program decides, in one place: the names of the files it reads and writes, its limits,
// its time-outs and how often it tries again. Each is a choice that could be made otherwise;
// the facts of a format (a header's size, a magic line) stay with the format. Header-only, and it
// includes nothing of the program: every folder may read it.

#include <chrono>
#include <cstddef>
#include <cstdint>

// Files, by name.
// The settings file: an INI file named like a library, relative to the current directory.
inline constexpr const char* kSettingsFile = ".\\pirvex.dll";
// The manifest of the lobby's own update, asked for by an empty command line.
inline constexpr const char* kDefaultManifest = "update.xml";
// The updater itself: a download of that name replaces the running executable. Fixed: the name
// it is set aside under must not depend on how the program was started.
inline constexpr const char* kExecutableName = "KesuUpdate.exe";
// The installation's record of the signatures it accepted, beside the executable.
inline constexpr const char* kTrustStateFile = "KesuUpdate.trust";
// In the temporary directory: the run's log, the record of the installed files last read, the
// journal of an installation and the directory its files are staged in.
inline constexpr const char* kLogName = "KesuUpdate.log";
inline constexpr const char* kCheckCacheName = "check.cache";
inline constexpr const char* kJournalName = "install.journal";
inline constexpr const char* kStagingName = ".KesuUpdate.staging";
// Where the player gets the whole game when an update fails, unless the settings say otherwise.
inline constexpr const char* kDefaultWebUrl = "https://www.kesu.example.com/download/";

// Downloads.
// Files downloaded at once unless the settings say otherwise, and the most they may say.
inline constexpr unsigned kDefaultConnections = 8;
inline constexpr unsigned kMostConnections = 16;
// The pauses before the second, third and fourth try of a request after a passing failure.
inline constexpr std::chrono::milliseconds kRetryPauses[] = {std::chrono::seconds(1), std::chrono::seconds(2),
                                                             std::chrono::seconds(4)};
// A server's Retry-After lengthens a pause up to this; before the downloads, when nothing can
// cancel the pause, up to the second.
inline constexpr std::chrono::milliseconds kLongestRetryAfter = std::chrono::seconds(30);
inline constexpr std::chrono::milliseconds kLongestRetryAfterAtStart = std::chrono::seconds(5);
// Before the downloads, a connection refused or reset is tried once more at most, after a second
// at most: a server that refuses connections is down, not busy, and the player waits for the
// verdict.
inline constexpr unsigned kLostConnectionRetriesAtStart = 1;
inline constexpr std::chrono::milliseconds kLongestLostConnectionPauseAtStart = std::chrono::seconds(1);
// A manifest or a signature arrives whole within this time, however slowly it drips.
inline constexpr std::chrono::seconds kDocumentDeadline{600};

// Sizes the program reads no further than: far beyond any real one (a signature is four short
// lines; an update of 100,000 files writes a journal of a few megabytes), and a bound on the
// memory a server or a damaged file can take.
inline constexpr std::size_t kManifestLimit = 64u << 20;
inline constexpr std::size_t kSignatureLimit = 64 * 1024;
inline constexpr std::size_t kTrustStateLimit = 1 << 20;
inline constexpr std::uint64_t kJournalLimit = 256u << 20;
// How much of a package's end the probe reads to learn what it unpacks to: the central directory
// of a few thousand entries.
inline constexpr std::uint64_t kPackageTail = 256 * 1024;
// The log is started afresh beyond this size.
inline constexpr std::uintmax_t kLogLimit = 1 << 20;

// The check of the installed files.
// Files read at once, at most (and never more than the machine has cores).
inline constexpr unsigned kMostCheckThreads = 4;

// Start-up: how long a start waits for the updater before it to let go of the installation.
inline constexpr std::chrono::milliseconds kClaimWait{30000};
