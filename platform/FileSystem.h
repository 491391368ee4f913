#pragma once
// The file and directory operations the program uses, with the Windows results it relies on:
// each returns whether it succeeded and leaves errno set when it did not.

#include <optional>
#include <string>
#include <sys/types.h>

// Flags of MoveFileEx.
inline constexpr unsigned MOVEFILE_REPLACE_EXISTING = 0x1;
inline constexpr unsigned MOVEFILE_COPY_ALLOWED = 0x2;
inline constexpr unsigned MOVEFILE_WRITE_THROUGH = 0x8;

bool PathFileExists(const std::string& path);
bool PathIsDirectory(const std::string& path);
// A regular file, or a link to one.
bool PathIsRegularFile(const std::string& path);
// The name itself is a symbolic link (whatever it points to, if anything).
bool PathIsSymbolicLink(const std::string& path);
// Creates one directory; its parent must exist.
bool CreateDirectory(const std::string& path);
// Creates the directory and every missing parent; true when it exists afterwards.
bool CreateDirectoryWithParents(const std::string& path);
bool DeleteFile(const std::string& path);
// Renames a file. Without MOVEFILE_REPLACE_EXISTING an existing target makes it fail; a file that
// replaces another takes over the replaced file's permission bits. With MOVEFILE_COPY_ALLOWED a
// move to another file system copies, syncs, renames into place and deletes the source.
// MOVEFILE_WRITE_THROUGH syncs the result before returning.
bool MoveFileEx(const std::string& from, const std::string& to, unsigned flags);
// Permission bits (the mode's low 12 bits), or nothing when the file does not exist.
std::optional<mode_t> GetFileMode(const std::string& path);
bool SetFileMode(const std::string& path, mode_t mode);
// The process's file mode creation mask, read without changing it (umask(2) can only be read by
// setting it, which would race with threads creating files meanwhile).
mode_t ProcessUmask();
// A name for a temporary file in the same directory as the (native) path, short enough for any
// file name beside it and unique within this process.
std::string SiblingTempPath(const std::string& nativePath);
// Takes an exclusive lock on the directory itself for the rest of the process's life; false when
// another process holds it. Nothing is written: the system drops the lock when the process ends,
// however it ends, and no program this one starts inherits it.
bool LockDirectoryForProcess(const std::string& directory);
// The full path of the running executable.
std::string GetModuleFileName();
