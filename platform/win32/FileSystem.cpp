#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/FileCalls.h"
#include "platform/Path.h"
#include "platform/win32/FileFacts.h"
#include "platform/win32/Wide.h"

namespace {

// What a look at the file a path names (through links) finds.
struct Look {
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_BASIC_INFO basic{};
};

// Opens nothing but the file's facts; backup semantics let a directory be opened too.
HANDLE OpenForFacts(const std::string& path)
{
    return OpenShared(WidePath(path), 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
}

std::optional<Look> LookAt(const std::string& path)
{
    const HANDLE handle = OpenForFacts(path);
    if (handle == INVALID_HANDLE_VALUE)
        return std::nullopt;
    Look look;
    const bool ok = ::GetFileInformationByHandle(handle, &look.info) &&
                    ::GetFileInformationByHandleEx(handle, FileBasicInfo, &look.basic, sizeof look.basic);
    if (!ok)
        FailWithLastError();
    ::CloseHandle(handle);
    return ok ? std::optional<Look>(look) : std::nullopt;
}

DWORD NameAttributes(const std::string& path)
{
    return ::GetFileAttributesW(WidePath(path).c_str());
}

bool IsDirectory(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Flush(const std::wstring& path)
{
    const HANDLE handle = OpenShared(path, GENERIC_WRITE, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    // A read-only file, or one another program holds without sharing writes (the running
    // updater, the game): passed over, as it cannot be opened to be flushed. A file of this
    // update that a virus scanner holds at that moment is left to the system's own write-back.
    if (handle == INVALID_HANDLE_VALUE)
        return errno == EACCES || errno == EBUSY;
    const bool ok = CallOf(FileCalls().flush)(handle) || FailWithLastError();
    ::CloseHandle(handle);
    return ok;
}

// Flushes every regular file under the directory; links to other places are not followed. A
// separator at the directory's end is dropped: a long path (\\?\) takes no doubled one.
bool FlushTree(std::wstring directory)
{
    while (directory.ends_with(L'\\'))
        directory.pop_back();
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((directory + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return FailWithLastError();
    bool ok = true;
    do {
        const std::wstring name = found.cFileName;
        const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsLinkReparseTag(found.dwReserved0);
        if (name == L"." || name == L".." || link)
            continue;
        const std::wstring path = directory + L"\\" + name;
        ok = ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FlushTree(path) : Flush(path)) && ok;
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return ok;
}

// A copy of the file beside `to`, flushed with its attributes and times, renamed over `to` with
// the rename written through: for what a rename cannot carry to another volume.
bool CopyOverDurably(const std::string& from, const std::string& to)
{
    const std::wstring part = WidePath(SiblingTempPath(ToNativePath(to)));
    if (!::CopyFileW(WidePath(from).c_str(), part.c_str(), TRUE))
        return FailWithLastError();
    if (Flush(part) && MoveReplacing(part, WidePath(to), MOVEFILE_WRITE_THROUGH))
        return true;
    const int error = errno;
    DeleteFileForcibly(part);
    errno = error;
    return false;
}

}  // namespace

bool PathFileExists(const std::string& path)
{
    const HANDLE handle = OpenForFacts(path);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(handle);
    return true;
}

bool AreDistinctPaths(const std::string& first, const std::string& second)
{
    const std::optional<Look> one = LookAt(first), other = LookAt(second);
    if (!one || !other)
        return false;
    return one->info.dwVolumeSerialNumber != other->info.dwVolumeSerialNumber ||
           one->info.nFileIndexHigh != other->info.nFileIndexHigh || one->info.nFileIndexLow != other->info.nFileIndexLow;
}

bool PathIsDirectory(const std::string& path)
{
    const std::optional<Look> look = LookAt(path);
    return look && (look->info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathIsRegularFile(const std::string& path)
{
    const std::optional<Look> look = LookAt(path);
    return look && !(look->info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A junction counts as one: it leads elsewhere as a link does.
bool PathIsSymbolicLink(const std::string& path)
{
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW(WidePath(path).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    ::FindClose(search);
    return (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsLinkReparseTag(found.dwReserved0);
}

bool CreateDirectory(const std::string& path)
{
    return CallOf(FileCalls().makeDirectory)(WidePath(path).c_str()) || FailWithLastError();
}

bool CreateDirectoryWithParents(const std::string& path)
{
    std::string native = ToNativePath(path);
    while (native.size() > 1 && native.ends_with('/'))
        native.pop_back();
    // A drive ("C:") or a share's root cannot be made: those tries fail and are passed over.
    for (std::size_t at = native.find('/', 1); at != std::string::npos; at = native.find('/', at + 1))
        CallOf(FileCalls().makeDirectory)(WidePath(native.substr(0, at)).c_str());
    return CreateDirectory(native);
}

// A link to a directory is removed as a directory, which removes the link alone.
bool DeleteFile(const std::string& path)
{
    const DWORD attributes = NameAttributes(path);
    if (IsDirectory(attributes) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        errno = EISDIR;
        return false;
    }
    if (IsDirectory(attributes))
        return ::RemoveDirectoryW(WidePath(path).c_str()) || FailWithLastError();
    return DeleteFileForcibly(WidePath(path));
}

bool PathNameExists(const std::string& path)
{
    return NameAttributes(path) != INVALID_FILE_ATTRIBUTES;
}

bool RenameOver(const std::string& from, const std::string& to)
{
    return MoveReplacing(WidePath(from), WidePath(to), 0);
}

// The target is kept relative, with Windows' separators: a link is read by the system, not by
// this program.
bool CreateSymbolicLink(const std::string& target, const std::string& linkName)
{
    std::wstring to = Utf8ToWide(target);
    std::replace(to.begin(), to.end(), L'/', L'\\');
    const DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    return ::CreateSymbolicLinkW(WidePath(linkName).c_str(), to.c_str(), flags) || FailWithLastError();
}

bool CreateHardLink(const std::string& existing, const std::string& newName)
{
    return CallOf(FileCalls().link)(WidePath(newName).c_str(), WidePath(existing).c_str()) || FailWithLastError();
}

bool MoveOver(const std::string& from, const std::string& to)
{
    if (RenameOver(from, to))
        return true;
    return errno == EXDEV && CopyOverDurably(from, to) && DeleteFileForcibly(WidePath(from));
}

bool KeepSecondName(const std::string& existing, const std::string& newName)
{
    if (CreateHardLink(existing, newName))
        return true;
    return errno == EXDEV && CopyOverDurably(existing, newName);
}

// Windows flushes a directory only for an administrator. The program's renames that must last
// are made with MOVEFILE_WRITE_THROUGH, which writes the entries they change before returning.
bool SyncDirectory(const std::string&)
{
    return true;
}

// A file that replaces another takes over whether that one was read-only.
bool MoveFileEx(const std::string& from, const std::string& to, unsigned flags)
{
    const DWORD sourceAttributes = NameAttributes(from);
    if (sourceAttributes == INVALID_FILE_ATTRIBUTES)
        return FailWithLastError();
    const DWORD targetAttributes = NameAttributes(to);
    const bool targetExists = targetAttributes != INVALID_FILE_ATTRIBUTES;
    if (targetExists && !(flags & MOVEFILE_REPLACE_EXISTING)) {
        errno = EEXIST;
        return false;
    }
    const std::wstring target = WidePath(to);
    if (!MoveReplacing(WidePath(from), target, flags & (MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)))
        return false;
    const DWORD readOnly = (targetExists ? targetAttributes : sourceAttributes) & FILE_ATTRIBUTE_READONLY;
    if (readOnly)
        ::SetFileAttributesW(target.c_str(), ::GetFileAttributesW(target.c_str()) | readOnly);
    return true;
}

std::optional<mode_t> GetFileMode(const std::string& path)
{
    const std::optional<Look> look = LookAt(path);
    if (!look)
        return std::nullopt;
    return ModeOfAttributes(look->info.dwFileAttributes);
}

std::optional<FileStatus> GetFileStatus(const std::string& path)
{
    const std::optional<Look> look = LookAt(path);
    if (!look)
        return std::nullopt;
    const BY_HANDLE_FILE_INFORMATION& info = look->info;
    const FileKind kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::Directory : FileKind::Regular;
    FileFacts facts;
    facts.nSize = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    facts.nModifiedNs = NanosecondsOfFileTime(look->basic.LastWriteTime.QuadPart);
    facts.nChangedNs = NanosecondsOfFileTime(look->basic.ChangeTime.QuadPart);
    facts.nInode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    facts.nDevice = info.dwVolumeSerialNumber;
    return FileStatus{kind, facts};
}

// Windows keeps one permission: whether the file is read-only. A directory's read-only
// attribute means something else to Explorer and is left alone.
bool SetFileMode(const std::string& path, mode_t mode)
{
    const DWORD attributes = NameAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return FailWithLastError();
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return true;
    return ::SetFileAttributesW(WidePath(path).c_str(), AttributesWithMode(attributes, mode)) || FailWithLastError();
}

mode_t FileCreationMask()
{
    return 0;  // Windows has no umask
}

std::optional<FileSystemSpace> GetFileSystemSpace(const std::string& path)
{
    const std::optional<Look> look = LookAt(path);
    if (!look)
        return std::nullopt;
    const bool directory = look->info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    const std::string folder = directory ? path : std::string(SplitAtLastSeparator(path).directory);
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(WidePath(folder.empty() ? "." : folder).c_str(), &available, nullptr, nullptr)) {
        FailWithLastError();
        return std::nullopt;
    }
    return FileSystemSpace{available.QuadPart, look->info.dwVolumeSerialNumber};
}

// Windows flushes a whole volume only for an administrator: the files under the path are
// flushed one by one.
bool SyncFileSystem(const std::string& path)
{
    const DWORD attributes = NameAttributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return FailWithLastError();
    return IsDirectory(attributes) ? FlushTree(WithLongPathPrefix(WidePath(path))) : Flush(WidePath(path));
}

// The lock is a named object that exists while a handle to it is open: this process keeps its
// handle to the end, and the system closes it however the process ends. (A mutex's ownership
// would not do: it belongs to the thread that took it and is given up when that thread ends.)
// The name comes from the directory's volume and file index, so that two spellings of one
// directory meet; no program this one starts inherits the handle.
bool LockDirectoryForProcess(const std::string& directory, std::chrono::milliseconds wait)
{
    const std::optional<Look> look = LookAt(directory);
    if (!look)
        return true;  // a directory that cannot be opened cannot be locked by another updater either
    const std::wstring name = L"Local\\KesuUpdate.lock." + std::to_wstring(look->info.dwVolumeSerialNumber) + L"." +
                              std::to_wstring(look->info.nFileIndexHigh) + L"." + std::to_wstring(look->info.nFileIndexLow);
    constexpr std::chrono::milliseconds kRetry{20};
    const auto until = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const HANDLE lock = ::CreateMutexW(nullptr, FALSE, name.c_str());
        if (!lock)
            return true;  // a system without the object cannot hold another updater's either
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            return true;  // the handle stays open: the lock lasts as long as the process
        ::CloseHandle(lock);
        if (std::chrono::steady_clock::now() >= until)
            return false;
        ::Sleep(static_cast<DWORD>(kRetry.count()));
    }
}

std::optional<int> DirectoryWriteError(const std::string& directory)
{
    const std::string probe = PathInDirectory(directory, ".KesuUpdate.write-test." + std::to_string(::GetCurrentProcessId()));
    DeleteFileForcibly(WidePath(probe));  // one a killed run left
    const HANDLE handle = OpenShared(WidePath(probe), GENERIC_WRITE, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE);
    if (handle == INVALID_HANDLE_VALUE)
        return errno;
    ::CloseHandle(handle);
    return std::nullopt;
}

std::string GetModuleFileName()
{
    std::vector<wchar_t> buffer(32768);  // the longest path Windows has
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    std::wstring_view path(buffer.data(), length);
    if (path.starts_with(L"\\\\?\\"))
        path.remove_prefix(4);
    return WideToUtf8(path);
}
