#include "platform/Descriptor.h"

#include <algorithm>
#include <cerrno>
#include <io.h>

#include "platform/win32/FileFacts.h"
#include "platform/win32/Wide.h"

namespace {

constexpr std::int64_t kLatestSeconds = INT64_MAX / kFileTimeTicksPerSecond - kFileTimeEpochSeconds;

FileTimePoint TimePointOfFileTime(const FILETIME& time)
{
    const auto ticks = static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    return {ticks / kFileTimeTicksPerSecond - kFileTimeEpochSeconds, static_cast<long>(ticks % kFileTimeTicksPerSecond) * 100};
}

// A time before 1601 is 1601; one past what a FILETIME holds is its last.
FILETIME FileTimeOfTimePoint(const FileTimePoint& time)
{
    const std::int64_t seconds = std::clamp(time.nSeconds, -kFileTimeEpochSeconds, kLatestSeconds);
    const auto ticks = static_cast<std::uint64_t>((seconds + kFileTimeEpochSeconds) * kFileTimeTicksPerSecond + time.nNanoseconds / 100);
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// ReadFile takes a DWORD count: larger reads are served in pieces by the callers' loops.
constexpr std::size_t kLargestRead = 1u << 30;

std::int64_t Read(int fd, void* pBuffer, std::size_t nCount, OVERLAPPED* at)
{
    DWORD got = 0;
    const DWORD count = static_cast<DWORD>(std::min(nCount, kLargestRead));
    if (::ReadFile(HandleOf(fd), pBuffer, count, &got, at))
        return got;
    const DWORD error = ::GetLastError();
    if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE)
        return 0;
    errno = ErrnoFromWindowsError(error);
    return -1;
}

}  // namespace

int OpenForReading(const std::string& strPath, bool bNoFollow)
{
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | (bNoFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    const HANDLE handle = OpenShared(WidePath(strPath), GENERIC_READ, OPEN_EXISTING, flags);
    if (handle == INVALID_HANDLE_VALUE) {
        if (errno == EACCES && IsDirectoryName(WidePath(strPath)))
            errno = EISDIR;
        return -1;
    }
    const bool isLink = IsLinkHandle(handle);
    if (::GetFileType(handle) != FILE_TYPE_DISK || isLink) {
        ::CloseHandle(handle);
        errno = isLink ? ELOOP : EISDIR;
        return -1;
    }
    return DescriptorOwning(handle);
}

std::int64_t ReadDescriptor(int fd, void* pBuffer, std::size_t nCount)
{
    return Read(fd, pBuffer, nCount, nullptr);
}

std::int64_t ReadDescriptorAt(int fd, void* pBuffer, std::size_t nCount, std::uint64_t nOffset)
{
    // A synchronous handle moves its position with a positioned read; the callers keep their own.
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(nOffset);
    at.OffsetHigh = static_cast<DWORD>(nOffset >> 32);
    return Read(fd, pBuffer, nCount, &at);
}

std::optional<DescriptorFacts> GetDescriptorFacts(int fd)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(HandleOf(fd), &info)) {
        FailWithLastError();
        return std::nullopt;
    }
    DescriptorFacts facts;
    facts.nSize = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    facts.mode = ModeOfAttributes(info.dwFileAttributes);
    facts.accessed = TimePointOfFileTime(info.ftLastAccessTime);
    facts.modified = TimePointOfFileTime(info.ftLastWriteTime);
    return facts;
}

bool SetDescriptorMode(int fd, mode_t mode)
{
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(HandleOf(fd), FileBasicInfo, &basic, sizeof basic))
        return FailWithLastError();
    basic.FileAttributes = AttributesWithMode(basic.FileAttributes, mode);
    basic.CreationTime.QuadPart = basic.LastAccessTime.QuadPart = 0;  // 0: left as they are
    basic.LastWriteTime.QuadPart = basic.ChangeTime.QuadPart = 0;
    return ::SetFileInformationByHandle(HandleOf(fd), FileBasicInfo, &basic, sizeof basic) || FailWithLastError();
}

bool SetDescriptorTimes(int fd, const FileTimePoint& accessed, const FileTimePoint& modified)
{
    const FILETIME access = FileTimeOfTimePoint(accessed), write = FileTimeOfTimePoint(modified);
    return ::SetFileTime(HandleOf(fd), nullptr, &access, &write) || FailWithLastError();
}

void CloseDescriptor(int fd)
{
    ::_close(fd);
}
