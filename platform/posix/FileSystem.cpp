#include "platform/FileSystem.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fstream>
#include <fcntl.h>
#include <filesystem>
#include <thread>
#include <sys/file.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/AtomicFile.h"
#include "platform/File.h"
#include "platform/FileCalls.h"
#include "platform/Path.h"

namespace {

std::string ParentDirectory(const std::string& nativePath)
{
    const std::string_view directory = SplitAtLastSeparator(nativePath).directory;
    if (directory.empty())
        return ".";
    return std::string(directory.size() == 1 ? directory : directory.substr(0, directory.size() - 1));
}

bool SyncPath(const std::string& nativePath, int openFlags)
{
    int fd = ::open(nativePath.c_str(), openFlags | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = CallOf(FileCalls().flush)(fd) == 0;
    ::close(fd);
    return ok;
}

void CopyContents(int in, const CAtomicFile& copy, const std::string& to)
{
    for (;;) {
        const ssize_t n = ::sendfile(copy.Descriptor(), in, nullptr, 1 << 30);
        if (n == 0)
            return;
        if (n < 0 && errno != EINTR)
            throw CFileException(errno, to);
    }
}

// Writes a copy of the file `from` over `to` (one rename) with this mode, and times when given,
// flushed to the disk.
bool CopyFileOver(const std::string& from, const std::string& to, mode_t mode, const timespec* times)
{
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    int error = 0;
    try {
        CAtomicFile copy(to, mode);
        CopyContents(in, copy, to);
        if (::fchmod(copy.Descriptor(), mode) != 0 || (times && ::futimens(copy.Descriptor(), times) != 0))
            throw CFileException(errno, to);
        copy.Commit(true);
    } catch (const CFileException& failure) {
        error = failure.GetErrno();
    }
    ::close(in);
    errno = error;
    return error == 0;
}

bool MoveAcrossFileSystems(const std::string& from, const std::string& to, mode_t mode)
{
    return CopyFileOver(from, to, mode, nullptr) && CallOf(FileCalls().remove)(from.c_str()) == 0;
}

// Makes a link to what the link `from` points to beside `to`, and renames it over `to`.
bool CopyLinkOver(const std::string& from, const std::string& to)
{
    char target[PATH_MAX];
    const ssize_t size = ::readlink(from.c_str(), target, sizeof target);
    if (size < 0)
        return false;
    if (static_cast<std::size_t>(size) == sizeof target) {
        errno = ENAMETOOLONG;
        return false;
    }
    const std::string part = SiblingTempPath(to);
    if (::symlink(std::string(target, static_cast<std::size_t>(size)).c_str(), part.c_str()) != 0)
        return false;
    if (CallOf(FileCalls().rename)(part.c_str(), to.c_str(), 0) == 0)
        return true;
    const int error = errno;
    CallOf(FileCalls().remove)(part.c_str());
    errno = error;
    return false;
}

// A copy of the file or link `from` (its permission bits and times kept) takes the name `to`,
// and reaches the disk with its directory; for what a rename cannot carry to another file system.
bool CopyOverDurably(const std::string& from, const std::string& to)
{
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0)
        return false;
    const timespec times[2] = {st.st_atim, st.st_mtim};
    bool copied = false;
    if (S_ISLNK(st.st_mode))
        copied = CopyLinkOver(from, to);
    else if (S_ISREG(st.st_mode))
        copied = CopyFileOver(from, to, st.st_mode & 07777, times);
    else
        errno = EINVAL;
    return copied && SyncPath(ParentDirectory(to), O_RDONLY | O_DIRECTORY);
}

}  // namespace

bool PathFileExists(const std::string& path)
{
    struct stat st {};
    return ::stat(ToNativePath(path).c_str(), &st) == 0;
}

bool AreDistinctPaths(const std::string& first, const std::string& second)
{
    std::error_code error;
    const bool same = std::filesystem::equivalent(ToNativePath(first), ToNativePath(second), error);
    return !same && !error;
}

bool PathIsDirectory(const std::string& path)
{
    struct stat st {};
    return ::stat(ToNativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathIsRegularFile(const std::string& path)
{
    struct stat st {};
    return ::stat(ToNativePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool PathIsSymbolicLink(const std::string& path)
{
    struct stat st {};
    return ::lstat(ToNativePath(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool CreateDirectory(const std::string& path)
{
    return CallOf(FileCalls().makeDirectory)(ToNativePath(path).c_str(), 0777) == 0;
}

bool CreateDirectoryWithParents(const std::string& path)
{
    std::string native = ToNativePath(path);
    while (native.size() > 1 && native.ends_with('/'))
        native.pop_back();
    for (std::size_t at = native.find('/', 1); at != std::string::npos; at = native.find('/', at + 1))
        CallOf(FileCalls().makeDirectory)(native.substr(0, at).c_str(), 0777);
    return CallOf(FileCalls().makeDirectory)(native.c_str(), 0777) == 0;
}

bool DeleteFile(const std::string& path)
{
    std::string native = ToNativePath(path);
    struct stat st {};
    if (::lstat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    return CallOf(FileCalls().remove)(native.c_str()) == 0;
}

bool PathNameExists(const std::string& path)
{
    struct stat st {};
    return ::lstat(ToNativePath(path).c_str(), &st) == 0;
}

bool RenameOver(const std::string& from, const std::string& to)
{
    return CallOf(FileCalls().rename)(ToNativePath(from).c_str(), ToNativePath(to).c_str(), 0) == 0;
}

bool CreateSymbolicLink(const std::string& target, const std::string& linkName)
{
    return ::symlink(target.c_str(), ToNativePath(linkName).c_str()) == 0;
}

bool CreateHardLink(const std::string& existing, const std::string& newName)
{
    return CallOf(FileCalls().link)(ToNativePath(existing).c_str(), ToNativePath(newName).c_str()) == 0;
}

bool MoveOver(const std::string& from, const std::string& to)
{
    const std::string source = ToNativePath(from);
    const std::string target = ToNativePath(to);
    if (CallOf(FileCalls().rename)(source.c_str(), target.c_str(), 0) == 0)
        return true;
    return errno == EXDEV && CopyOverDurably(source, target) && CallOf(FileCalls().remove)(source.c_str()) == 0;
}

bool KeepSecondName(const std::string& existing, const std::string& newName)
{
    const std::string source = ToNativePath(existing);
    const std::string target = ToNativePath(newName);
    if (CallOf(FileCalls().link)(source.c_str(), target.c_str()) == 0)
        return true;
    return errno == EXDEV && CopyOverDurably(source, target);
}

bool SyncDirectory(const std::string& path)
{
    return SyncPath(ToNativePath(path), O_RDONLY | O_DIRECTORY);
}

bool MoveFileEx(const std::string& from, const std::string& to, unsigned flags)
{
    std::string source = ToNativePath(from);
    std::string target = ToNativePath(to);
    struct stat sourceStat {};
    if (::stat(source.c_str(), &sourceStat) != 0)
        return false;
    struct stat targetStat {};
    bool targetExists = ::stat(target.c_str(), &targetStat) == 0;
    if (targetExists && !(flags & MOVEFILE_REPLACE_EXISTING)) {
        errno = EEXIST;
        return false;
    }
    mode_t mode = (targetExists ? targetStat.st_mode : sourceStat.st_mode) & 07777;
    if (targetExists && ::chmod(source.c_str(), mode) != 0)
        return false;

    bool replace = flags & MOVEFILE_REPLACE_EXISTING;
    if (CallOf(FileCalls().rename)(source.c_str(), target.c_str(), replace ? 0 : RENAME_NOREPLACE) != 0) {
        if (errno != EXDEV || !(flags & MOVEFILE_COPY_ALLOWED))
            return false;
        if (!MoveAcrossFileSystems(source, target, mode))
            return false;
    }
    if (flags & MOVEFILE_WRITE_THROUGH)
        return SyncPath(target, O_RDONLY) && SyncPath(ParentDirectory(target), O_RDONLY | O_DIRECTORY);
    return true;
}

std::optional<mode_t> GetFileMode(const std::string& path)
{
    struct stat st {};
    if (::stat(ToNativePath(path).c_str(), &st) != 0)
        return std::nullopt;
    return st.st_mode & 07777;
}

std::optional<FileStatus> GetFileStatus(const std::string& path)
{
    struct stat st {};
    if (::stat(ToNativePath(path).c_str(), &st) != 0)
        return std::nullopt;
    // A time before 1970 counts as 1970: it is compared, never computed with.
    const auto nanoseconds = [](const timespec& time) {
        return time.tv_sec < 0 ? 0 : static_cast<std::uint64_t>(time.tv_sec) * 1000000000u + static_cast<std::uint64_t>(time.tv_nsec);
    };
    const FileKind kind = S_ISREG(st.st_mode) ? FileKind::Regular : S_ISDIR(st.st_mode) ? FileKind::Directory : FileKind::Other;
    return FileStatus{kind, {static_cast<std::uint64_t>(st.st_size), nanoseconds(st.st_mtim), nanoseconds(st.st_ctim),
                             static_cast<std::uint64_t>(st.st_ino), static_cast<std::uint64_t>(st.st_dev)}};
}

bool SetFileMode(const std::string& path, mode_t mode)
{
    return ::chmod(ToNativePath(path).c_str(), mode & 07777) == 0;
}

mode_t FileCreationMask()
{
    // The umask can only be read by setting it, which would race other threads creating files:
    // the kernel reports it in the process's status instead.
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("Umask:"))
            return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8)) & 0777;
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask & 0777;
}

std::optional<FileSystemSpace> GetFileSystemSpace(const std::string& path)
{
    const std::string native = ToNativePath(path);
    struct statvfs fs {};
    struct stat st {};
    if (::statvfs(native.c_str(), &fs) != 0 || ::stat(native.c_str(), &st) != 0)
        return std::nullopt;
    return FileSystemSpace{static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize, static_cast<std::uint64_t>(st.st_dev)};
}

bool SyncFileSystem(const std::string& path)
{
    const int fd = ::open(ToNativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = CallOf(FileCalls().flushFileSystem)(fd) == 0;
    ::close(fd);
    return ok;
}

bool LockDirectoryForProcess(const std::string& directory, std::chrono::milliseconds wait)
{
    int fd = ::open(ToNativePath(directory).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return true;  // a directory that cannot be opened cannot be locked by another updater either
    // flock has no time limit of its own: the lock is tried again every few milliseconds.
    constexpr std::chrono::milliseconds kRetry{20};
    const auto until = std::chrono::steady_clock::now() + wait;
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            ::close(fd);
            return true;  // a file system without locks cannot hold another updater's either
        }
        if (std::chrono::steady_clock::now() >= until) {
            ::close(fd);
            return false;
        }
        std::this_thread::sleep_for(kRetry);
    }
    return true;  // the descriptor stays open: the lock lasts as long as the process
}

std::optional<int> DirectoryWriteError(const std::string& directory)
{
    const std::string probe = ToNativePath(directory) + "/.KesuUpdate.write-test." + std::to_string(::getpid());
    CallOf(FileCalls().remove)(probe.c_str());  // one a killed run left
    const int fd = CallOf(FileCalls().open)(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    ::close(fd);
    CallOf(FileCalls().remove)(probe.c_str());
    return std::nullopt;
}

std::string GetModuleFileName()
{
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}
