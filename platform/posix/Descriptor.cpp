#include "platform/Descriptor.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Path.h"

namespace {

timespec ToTimespec(const FileTimePoint& time)
{
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(time.nSeconds);
    ts.tv_nsec = time.nNanoseconds;
    return ts;
}

FileTimePoint FromTimespec(const timespec& ts)
{
    return {static_cast<std::int64_t>(ts.tv_sec), ts.tv_nsec};
}

}  // namespace

int OpenForReading(const std::string& strPath, bool bNoFollow)
{
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (bNoFollow ? O_NOFOLLOW : 0);
    const int fd = ::open(ToNativePath(strPath).c_str(), flags);
    struct stat st {};
    if (fd < 0 || (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)))
        return fd;
    ::close(fd);
    errno = EISDIR;
    return -1;
}

std::int64_t ReadDescriptor(int fd, void* pBuffer, std::size_t nCount)
{
    for (;;) {
        const ssize_t n = ::read(fd, pBuffer, nCount);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

std::int64_t ReadDescriptorAt(int fd, void* pBuffer, std::size_t nCount, std::uint64_t nOffset)
{
    for (;;) {
        const ssize_t n = ::pread(fd, pBuffer, nCount, static_cast<off_t>(nOffset));
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

std::optional<DescriptorFacts> GetDescriptorFacts(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return std::nullopt;
    return DescriptorFacts{static_cast<std::uint64_t>(st.st_size), static_cast<mode_t>(st.st_mode & 07777),
                           FromTimespec(st.st_atim), FromTimespec(st.st_mtim)};
}

bool SetDescriptorMode(int fd, mode_t mode)
{
    return ::fchmod(fd, mode) == 0;
}

bool SetDescriptorTimes(int fd, const FileTimePoint& accessed, const FileTimePoint& modified)
{
    const timespec times[2] = {ToTimespec(accessed), ToTimespec(modified)};
    return ::futimens(fd, times) == 0;
}

void CloseDescriptor(int fd)
{
    ::close(fd);
}
