#include "platform/AtomicFile.h"

#include <cerrno>
#include <io.h>

#include "platform/File.h"
#include "platform/FileCalls.h"
#include "platform/Path.h"
#include "platform/win32/Wide.h"

// The mode's one bit Windows keeps: without the owner's write bit the file is made read-only
// (the handle that makes it may still write it). No umask masks it.
CAtomicFile::CAtomicFile(const std::string& nativeTarget, mode_t mode)
    : m_strTarget(nativeTarget), m_strTemporary(SiblingTempPath(nativeTarget))
{
    const DWORD attributes = (mode & 0200) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
    const HANDLE handle = OpenSharedFile(WidePath(m_strTemporary), GENERIC_READ | GENERIC_WRITE, CREATE_NEW, attributes);
    if (handle == INVALID_HANDLE_VALUE || (m_fd = DescriptorOwning(handle)) < 0)
        throw CFileException(errno, m_strTarget);
}

CAtomicFile::~CAtomicFile()
{
    if (m_fd >= 0)
        ::_close(m_fd);
    if (!m_strTemporary.empty())
        DeleteFileForcibly(WidePath(m_strTemporary));
}

void CAtomicFile::Write(const void* pData, std::size_t nSize)
{
    const char* p = static_cast<const char*>(pData);
    while (nSize > 0) {
        DWORD written = 0;
        const DWORD piece = static_cast<DWORD>(nSize < (1u << 30) ? nSize : (1u << 30));
        if (!CallOf(FileCalls().write)(HandleOf(m_fd), p, piece, &written))
            throw CFileException(ErrnoOfLastError(), m_strTarget);
        p += written;
        nSize -= written;
    }
}

// The rename writes its directory entry through to the disk when the data must survive a power
// cut: Windows cannot flush a directory by itself.
void CAtomicFile::Commit(bool bDurable)
{
    const bool synced = !bDurable || CallOf(FileCalls().flush)(HandleOf(m_fd)) || FailWithLastError();
    const int error = errno;
    ::_close(m_fd);
    m_fd = -1;
    const std::wstring temporary = WidePath(m_strTemporary);
    if (synced && MoveReplacing(temporary, WidePath(m_strTarget), bDurable ? kMoveFileWriteThrough : 0)) {
        m_strTemporary.clear();  // it is the target now
        return;
    }
    const int failure = synced ? errno : error;
    DeleteFileForcibly(temporary);
    m_strTemporary.clear();
    throw CFileException(failure, m_strTarget);
}
