#include "platform/File.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FileCalls.h"
#include "platform/Path.h"

// Opens the file, or returns the errno that explains why not. A directory is no file here,
// although open(2) would give it a descriptor for reading.
//
// A created file is always a new one: whatever had its name is unlinked first, and the file is
// made exclusively, so that a link planted at the name (symbolic or hard) is replaced, never
// written through. Nothing blocks in open(2): a FIFO at the name fails its reads instead of
// waiting for a writer that never comes.
std::optional<int> CFile::OpenDescriptor(const std::string& path, unsigned flags)
{
    const std::string native = ToNativePath(path);
    int mode = (flags & CFile::modeReadWrite) ? O_RDWR : O_RDONLY;
    if (flags & CFile::modeCreate) {
        if (CallOf(FileCalls().remove)(native.c_str()) != 0 && errno != ENOENT && errno != EISDIR)
            return errno;
        mode |= O_CREAT | O_EXCL | O_NOFOLLOW;
    }
    if (flags & CFile::modeKeep)
        mode |= O_NOFOLLOW;
    m_fd = CallOf(FileCalls().open)(native.c_str(), mode | O_CLOEXEC | O_NONBLOCK, 0666);
    if (m_fd < 0)
        return errno;
    struct stat st {};
    if (::fstat(m_fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        int error = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(m_fd);
        m_fd = -1;
        return error;
    }
    return std::nullopt;
}

void CFile::StartDirect(unsigned nOpenFlags)
{
    // A file system that cannot (tmpfs) refuses the flag, and the writes go through the cache.
    if ((nOpenFlags & modeDirect) && (nOpenFlags & modeReadWrite))
        m_bDirect = ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_DIRECT) == 0;
}

void CFile::EndDirectUnlessAligned(const void* pBuffer, std::size_t nCount)
{
    const bool aligned = reinterpret_cast<std::uintptr_t>(pBuffer) % kDirectAlignment == 0 &&
                         nCount % kDirectAlignment == 0 && m_nWritten % kDirectAlignment == 0;
    if (m_bDirect && !aligned)
        EndDirect();
}

void CFile::EndDirect()
{
    m_bDirect = false;
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) & ~O_DIRECT);
}

std::size_t CFile::Read(void* pBuffer, std::size_t nCount)
{
    if (m_bDirect)
        EndDirect();  // the hint is for writing: reads come from the cache, into any buffer
    auto* out = static_cast<char*>(pBuffer);
    std::size_t done = 0;
    while (done < nCount) {
        ssize_t n = ::read(m_fd, out + done, nCount - done);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw CFileException(errno, m_strFileName);
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

void CFile::Write(const void* pBuffer, std::size_t nCount)
{
    const auto* in = static_cast<const char*>(pBuffer);
    EndDirectUnlessAligned(pBuffer, nCount);
    while (nCount > 0) {
        ssize_t n = CallOf(FileCalls().write)(m_fd, in, nCount);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EINVAL && m_bDirect) {  // a file system with stricter rules for direct writes
                EndDirect();
                continue;
            }
            throw CFileException(errno, m_strFileName);
        }
        if (m_bDirect && static_cast<std::size_t>(n) % kDirectAlignment != 0)
            EndDirect();  // a short direct write (a full disk): the rest goes through the cache
        in += n;
        nCount -= static_cast<std::size_t>(n);
        m_nWritten += static_cast<std::uint64_t>(n);
    }
}

void CFile::KeepFirst(std::uint64_t nLength)
{
    struct stat st {};
    if (::fstat(m_fd, &st) != 0)
        throw CFileException(errno, m_strFileName);
    if (static_cast<std::uint64_t>(st.st_size) < nLength)
        throw CFileException(ESPIPE, m_strFileName);
    if (::ftruncate(m_fd, static_cast<off_t>(nLength)) != 0 || ::lseek(m_fd, static_cast<off_t>(nLength), SEEK_SET) < 0)
        throw CFileException(errno, m_strFileName);
    m_nWritten = m_nWrittenBack = nLength;
}

void CFile::StartWriteBack()
{
    // Whole megabytes at a time: a call a block would cost more than the overlap saves.
    constexpr std::uint64_t kBatch = 8u << 20;
    if (m_fd < 0 || m_nWritten - m_nWrittenBack < kBatch)
        return;
    // Only a hint: where the file system cannot, the final flush does all the writing.
    ::sync_file_range(m_fd, static_cast<off_t>(m_nWrittenBack), static_cast<off_t>(m_nWritten - m_nWrittenBack),
                      SYNC_FILE_RANGE_WRITE);
    m_nWrittenBack = m_nWritten;
}

void CFile::Close()
{
    if (m_fd < 0)
        return;
    int result = ::close(m_fd);
    m_fd = -1;
    // A failed close can be the first report of a failed write (a full disk on a network file system).
    if (result != 0 && errno != EINTR)
        throw CFileException(errno, m_strFileName);
}

void CFile::Abort()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}
