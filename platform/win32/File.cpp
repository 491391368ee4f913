#include "platform/File.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <io.h>
#include <optional>

#include "platform/Descriptor.h"
#include "platform/FileCalls.h"
#include "platform/Path.h"
#include "platform/win32/Wide.h"

// WriteFile takes a DWORD count.
constexpr std::size_t kLargestWrite = 1u << 30;

// Opens the file as a descriptor, or returns the errno that explains why not. A directory is no
// file here.
//
// A created file is always a new one: whatever had its name is deleted first (a read-only one
// included) and the file is made with CREATE_NEW, which never follows a link planted at the name.
// modeKeep opens a link at the name itself, which then is no file.
std::optional<int> CFile::OpenDescriptor(const std::string& path, unsigned flags)
{
    const std::wstring wide = WidePath(path);
    DWORD disposition = OPEN_EXISTING;
    if (flags & CFile::modeCreate) {
        if (!IsDirectoryName(wide) && !DeleteFileForcibly(wide) && errno != ENOENT)
            return errno;
        disposition = CREATE_NEW;
    }
    const DWORD access = GENERIC_READ | ((flags & CFile::modeReadWrite) ? GENERIC_WRITE : 0);
    const DWORD openFlags = FILE_ATTRIBUTE_NORMAL | ((flags & CFile::modeKeep) ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    const HANDLE handle = OpenSharedFile(wide, access, disposition, openFlags);
    if (handle == INVALID_HANDLE_VALUE)
        return (errno == EACCES || errno == EEXIST) && IsDirectoryName(wide) ? EISDIR : errno;
    if (IsLinkHandle(handle)) {
        ::CloseHandle(handle);
        return ELOOP;
    }
    m_fd = DescriptorOwning(handle);
    return m_fd < 0 ? std::optional<int>(errno) : std::nullopt;
}

// Windows has no switch between cached and direct writes on an open file (an unbuffered handle
// takes aligned writes only, to its end): modeDirect's writes go through the cache.
void CFile::StartDirect(unsigned) {}

void CFile::EndDirectUnlessAligned(const void*, std::size_t) {}

void CFile::EndDirect()
{
    m_bDirect = false;
}

std::size_t CFile::Read(void* pBuffer, std::size_t nCount)
{
    auto* out = static_cast<char*>(pBuffer);
    std::size_t done = 0;
    while (done < nCount) {
        const std::int64_t n = ReadDescriptor(m_fd, out + done, nCount - done);
        if (n == 0)
            break;
        if (n < 0)
            throw CFileException(errno, m_strFileName);
        done += static_cast<std::size_t>(n);
    }
    return done;
}

void CFile::Write(const void* pBuffer, std::size_t nCount)
{
    const auto* in = static_cast<const char*>(pBuffer);
    while (nCount > 0) {
        DWORD written = 0;
        if (!CallOf(FileCalls().write)(HandleOf(m_fd), in, static_cast<DWORD>(std::min(nCount, kLargestWrite)), &written)) {
            throw CFileException(ErrnoOfLastError(), m_strFileName);
        }
        in += written;
        nCount -= written;
        m_nWritten += written;
    }
}

void CFile::KeepFirst(std::uint64_t nLength)
{
    const HANDLE handle = HandleOf(m_fd);
    LARGE_INTEGER size{}, length{};
    length.QuadPart = static_cast<LONGLONG>(nLength);
    if (!::GetFileSizeEx(handle, &size))
        throw CFileException(ErrnoOfLastError(), m_strFileName);
    if (static_cast<std::uint64_t>(size.QuadPart) < nLength)
        throw CFileException(ESPIPE, m_strFileName);
    if (!::SetFilePointerEx(handle, length, nullptr, FILE_BEGIN) || !::SetEndOfFile(handle))
        throw CFileException(ErrnoOfLastError(), m_strFileName);
    m_nWritten = m_nWrittenBack = nLength;
}

void CFile::StartWriteBack()
{
    // Windows' lazy writer starts on written data by itself within a second, and no call asks it
    // for a range sooner: the final flush does what it has not done.
    m_nWrittenBack = m_nWritten;
}

void CFile::Close()
{
    if (m_fd < 0)
        return;
    const int result = ::_close(m_fd);
    m_fd = -1;
    if (result != 0)
        throw CFileException(errno, m_strFileName);
}

void CFile::Abort()
{
    if (m_fd >= 0)
        ::_close(m_fd);
    m_fd = -1;
}
