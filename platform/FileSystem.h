#pragma once
// The file and directory operations the program uses, with the Windows results it relies on:
// each returns whether it succeeded and leaves errno set when it did not.
//
// Errors in the platform layer: the functions named after Windows calls answer as those calls do
// (a bool, errno set), because the code above them is written against those answers; the
// classes (CFile, CAtomicFile, CInternetSession, CHttpFile) throw CFileException or
// CInternetException carrying the system's or curl's own text. Nothing here shows anything to a
// person: the engine turns failures into its codes and the app tells them.

#include <cstdint>
#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>

// Flags of MoveFileEx.
inline constexpr unsigned MOVEFILE_REPLACE_EXISTING = 0x1;
inline constexpr unsigned MOVEFILE_COPY_ALLOWED = 0x2;
inline constexpr unsigned MOVEFILE_WRITE_THROUGH = 0x8;

bool PathFileExists(const std::string& path);
bool PathIsDirectory(const std::string& path);
// Both paths can be looked at and name different directories (or files); false when they are the
// same one, or either cannot be looked at.
bool AreDistinctPaths(const std::string& first, const std::string& second);
// A regular file, or a link to one.
bool PathIsRegularFile(const std::string& path);
// The name itself is a symbolic link (whatever it points to, if anything).
bool PathIsSymbolicLink(const std::string& path);
// Creates one directory; its parent must exist.
bool CreateDirectory(const std::string& path);
// Creates the directory and every missing parent: one directory at each separator ('\' or '/',
// which are one here), from the left; those already there are passed over. True when the
// directory itself was made by this call.
bool CreateDirectoryWithParents(const std::string& path);
bool DeleteFile(const std::string& path);
// Whether anything has the name, a link that leads nowhere included.
bool PathNameExists(const std::string& path);
// Renames a file, a directory or a link (the link itself) over whatever has the new name, in one
// step that a crash cannot cut in two; never copies, so both names must lie on one file system.
bool RenameOver(const std::string& from, const std::string& to);
// Makes a symbolic link at the new name (which must not exist) to the target, as it is written.
// Windows lets only an administrator, or anyone in developer mode, make one.
bool CreateSymbolicLink(const std::string& target, const std::string& linkName);
// Gives an existing file (or link) a second name; the new name must not exist.
bool CreateHardLink(const std::string& existing, const std::string& newName);
// Renames a file or link over whatever has the new name, as RenameOver does. When the names lie
// on two file systems (a folder the player moved to another disk and linked back), copies it
// beside `to` with its permission bits and times, writes the copy and its directory to the disk,
// renames it over `to`, and only then removes `from`: `to` is at every instant wholly old or
// wholly new, and `from` is gone only once the new `to` is on the disk.
bool MoveOver(const std::string& from, const std::string& to);
// Gives an existing file or link a second name, as CreateHardLink does; on another file system,
// where no hard link reaches, a copy written to the disk with its directory.
bool KeepSecondName(const std::string& existing, const std::string& newName);
// Writes the directory's entries (the names made, renamed or removed in it) to its disk.
bool SyncDirectory(const std::string& path);
// Renames a file. Without MOVEFILE_REPLACE_EXISTING an existing target makes it fail; a file that
// replaces another takes over the replaced file's permission bits. With MOVEFILE_COPY_ALLOWED a
// move to another file system copies, syncs, renames into place and deletes the source.
// MOVEFILE_WRITE_THROUGH syncs the result before returning.
bool MoveFileEx(const std::string& from, const std::string& to, unsigned flags);
// Permission bits (the mode's low 12 bits), or nothing when the file does not exist.
std::optional<mode_t> GetFileMode(const std::string& path);
bool SetFileMode(const std::string& path, mode_t mode);
// What tells whether a file's contents may have changed, without reading them: a write changes
// its size or its modification time, and any change of the file its change time, which no
// program can set back.
struct FileFacts {
    std::uint64_t nSize = 0;
    std::uint64_t nModifiedNs = 0;  // since the epoch
    std::uint64_t nChangedNs = 0;
    std::uint64_t nInode = 0;
    std::uint64_t nDevice = 0;
    bool operator==(const FileFacts&) const = default;
};
enum class FileKind { Regular, Directory, Other };
struct FileStatus {
    FileKind kind = FileKind::Other;
    FileFacts facts;
};
// What the path names (through links), in one look; nothing when it cannot be looked at.
std::optional<FileStatus> GetFileStatus(const std::string& path);
// The bits the process's umask takes from the modes of files it creates.
mode_t FileCreationMask();
// The bytes a process without special rights may still write on the file system the path lies
// on, and which file system that is; nothing when the path cannot be looked at.
struct FileSystemSpace {
    std::uint64_t nFree = 0;
    std::uint64_t nDevice = 0;
};
std::optional<FileSystemSpace> GetFileSystemSpace(const std::string& path);
// Writes everything of the file system the path lies on that is still only in memory to its
// disk, as `sync -f` does; false when the path cannot be opened or the flush failed.
bool SyncFileSystem(const std::string& path);
// Takes an exclusive lock on the directory itself for the rest of the process's life, waiting up to
// `wait` for another process to let it go; false when that one holds it still. Nothing is written:
// the system drops the lock when the process ends, however it ends, and no program this one starts
// inherits it.
bool LockDirectoryForProcess(const std::string& directory, std::chrono::milliseconds wait = {});
// Whether a file can be made in the directory (a read-only file system, a directory of another
// user's): nothing when it can, else the errno that says why not. Nothing is left behind.
std::optional<int> DirectoryWriteError(const std::string& directory);
// The full path of the running executable.
std::string GetModuleFileName();
