#pragma once
// Whether a file is a program this machine can run: the updater's new copy of itself must be
// able to do the running one's job before it takes its place. The format is the system's own
// (ELF on Linux, PE32+ on Windows), compared with that of the running program.
//
// Threads: any. Errors: none thrown; a file that cannot be read is no program.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// How many of a program's first bytes the check reads: an ELF header's 64; a Windows image's
// headers lie where its first 64 bytes say, within its first kilobyte.
#ifdef _WIN32
inline constexpr std::size_t kExecutableHeadSize = 1024;
#else
inline constexpr std::size_t kExecutableHeadSize = 64;
#endif

// Whether a running program's file can be replaced under its name. Windows keeps a running
// program's image open against replacing and deleting: there it can only be renamed.
#ifdef _WIN32
inline constexpr bool kRunningProgramCanBeReplaced = false;
#else
inline constexpr bool kRunningProgramCanBeReplaced = true;
#endif

// Why the file at the path is not a program for this machine (for the log), or nothing
// when it is one.
std::optional<std::string> NotAnExecutableForThisMachine(const std::string& strPath);
// The same for a program's first kExecutableHeadSize bytes.
std::optional<std::string> NotAnExecutableHeadForThisMachine(std::string_view head);
