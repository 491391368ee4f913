#include "platform/win32/Wide.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <io.h>

#include "platform/FileCalls.h"
#include "platform/Path.h"

namespace {

// CreateDirectoryW's limit is the smallest: MAX_PATH less room for an 8.3 file name.
constexpr std::size_t kShortPathLimit = MAX_PATH - 12;

std::wstring ConvertToWide(std::string_view text)
{
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
    return wide;
}

}  // namespace

// "\\?\" takes the path as it is: it must be absolute, with '\' and no "." or ".." in it.
std::wstring WithLongPathPrefix(const std::wstring& path)
{
    const DWORD length = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (length == 0)
        return path;
    std::wstring full(length, L'\0');
    full.resize(::GetFullPathNameW(path.c_str(), length, full.data(), nullptr));
    if (full.starts_with(L"\\\\?\\"))
        return full;
    if (full.starts_with(L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

namespace {

// Whether another program has the name open without letting it be deleted: Windows answers a
// rename over such a file with an access denial, which says no more than a missing right would.
bool IsHeldByAnother(const std::wstring& path)
{
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
    const HANDLE handle = ::CreateFileW(path.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle != INVALID_HANDLE_VALUE)
        ::CloseHandle(handle);
    return handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_SHARING_VIOLATION;
}

// EBUSY for a failure one of the names' being held explains.
bool FailHeld(const std::wstring& first, const std::wstring& second)
{
    if (errno == EACCES && (IsHeldByAnother(first) || (!second.empty() && IsHeldByAnother(second))))
        errno = EBUSY;
    return false;
}

bool IsHeld(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

}  // namespace

std::wstring Utf8ToWide(std::string_view text)
{
    return text.empty() ? std::wstring() : ConvertToWide(text);
}

std::string WideToUtf8(std::wstring_view text)
{
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

std::wstring WidePath(const std::string& path)
{
    std::wstring wide = Utf8ToWide(ToNativePath(path));
    for (wchar_t& c : wide)
        if (c == L'/')
            c = L'\\';
    return wide.size() < kShortPathLimit ? wide : WithLongPathPrefix(wide);
}

int ErrnoFromWindowsError(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH: case ERROR_BAD_NET_NAME: case ERROR_NO_MORE_FILES:
        return ENOENT;
    case ERROR_ACCESS_DENIED: case ERROR_PRIVILEGE_NOT_HELD: case ERROR_CANNOT_MAKE:
    case ERROR_NETWORK_ACCESS_DENIED: case ERROR_DELETE_PENDING:
        return EACCES;
    case ERROR_FILE_EXISTS: case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    case ERROR_DIR_NOT_EMPTY:
        return ENOTEMPTY;
    case ERROR_FILENAME_EXCED_RANGE: case ERROR_BUFFER_OVERFLOW:
        return ENAMETOOLONG;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_INVALID_NAME: case ERROR_INVALID_PARAMETER: case ERROR_BAD_PATHNAME:
    case ERROR_NEGATIVE_SEEK: case ERROR_INVALID_FUNCTION: case ERROR_NOT_SUPPORTED:
        return EINVAL;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_SHARING_VIOLATION: case ERROR_LOCK_VIOLATION: case ERROR_BUSY: case ERROR_USER_MAPPED_FILE:
        return EBUSY;
    case ERROR_NOT_ENOUGH_MEMORY: case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_CANT_RESOLVE_FILENAME:
        return ELOOP;
    case ERROR_INVALID_HANDLE:
        return EBADF;
    default:
        return EIO;
    }
}

bool FailWithLastError()
{
    errno = ErrnoFromWindowsError(::GetLastError());
    return false;
}

int ErrnoOfLastError()
{
    FailWithLastError();
    return errno;
}

HANDLE OpenShared(const std::wstring& path, DWORD access, DWORD disposition, DWORD flags)
{
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const HANDLE handle = ::CreateFileW(path.c_str(), access, kShareAll, nullptr, disposition, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        FailWithLastError();
    return handle;
}

HANDLE OpenSharedFile(const std::wstring& path, DWORD access, DWORD disposition, DWORD flags)
{
    const HANDLE handle = CallOf(FileCalls().open)(path.c_str(), access, disposition, flags);
    if (handle == INVALID_HANDLE_VALUE)
        FailWithLastError();
    return handle;
}

int DescriptorOwning(HANDLE handle)
{
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(handle);
        errno = EMFILE;
    }
    return fd;
}

HANDLE HandleOf(int fd)
{
    return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

bool IsLinkReparseTag(DWORD tag)
{
    return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT;
}

bool IsLinkHandle(HANDLE handle)
{
    FILE_ATTRIBUTE_TAG_INFO tag{};
    return ::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) &&
           (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsLinkReparseTag(tag.ReparseTag);
}

bool IsDirectoryName(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void ClearReadOnly(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        ::SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

bool RetryWhileHeldImpl(bool (*call)(void*), void* context)
{
    constexpr auto kPatience = std::chrono::seconds(2);
    constexpr DWORD kPauseMs = 50;
    const auto until = std::chrono::steady_clock::now() + kPatience;
    for (;;) {
        if (call(context))
            return true;
        const DWORD error = ::GetLastError();
        if (!IsHeld(error) || std::chrono::steady_clock::now() >= until) {
            errno = ErrnoFromWindowsError(error);
            return false;
        }
        ::Sleep(kPauseMs);
    }
}

bool MoveReplacing(const std::wstring& from, const std::wstring& to, DWORD flags)
{
    ClearReadOnly(to);
    const auto moveFile = CallOf(FileCalls().rename);
    return RetryWhileHeld([&] { return moveFile(from.c_str(), to.c_str(), flags | kMoveFileReplaceExisting) != 0; }) ||
           FailHeld(from, to);
}

bool DeleteFileForcibly(const std::wstring& path)
{
    ClearReadOnly(path);
    const auto deleteFile = CallOf(FileCalls().remove);
    return RetryWhileHeld([&] { return deleteFile(path.c_str()) != 0; }) || FailHeld(path, {});
}

// One argument as the C runtime's parser reads it back: in quotes when it has a blank or a quote
// (or is empty); a quote escaped with a backslash, and the backslashes before a quote or the
// closing quote doubled. Other backslashes stand for themselves.
std::wstring QuotedArgument(const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        quoted += c;
        backslashes = 0;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}
