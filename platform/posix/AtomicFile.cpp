#include "platform/AtomicFile.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "platform/File.h"
#include "platform/FileCalls.h"
#include "platform/Path.h"

CAtomicFile::CAtomicFile(const std::string& nativeTarget, mode_t mode)
    : m_strTarget(nativeTarget), m_strTemporary(SiblingTempPath(nativeTarget))
{
    m_fd = CallOf(FileCalls().open)(m_strTemporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (m_fd < 0)
        throw CFileException(errno, m_strTarget);
}

CAtomicFile::~CAtomicFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_strTemporary.empty())
        CallOf(FileCalls().remove)(m_strTemporary.c_str());
}

void CAtomicFile::Write(const void* pData, std::size_t nSize)
{
    const char* p = static_cast<const char*>(pData);
    while (nSize > 0) {
        const ssize_t written = CallOf(FileCalls().write)(m_fd, p, nSize);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            throw CFileException(written < 0 ? errno : ENOSPC, m_strTarget);
        p += written;
        nSize -= static_cast<std::size_t>(written);
    }
}

void CAtomicFile::Commit(bool bDurable)
{
    const bool synced = !bDurable || CallOf(FileCalls().flush)(m_fd) == 0;
    const bool closed = ::close(m_fd) == 0;
    m_fd = -1;
    if (synced && closed && CallOf(FileCalls().rename)(m_strTemporary.c_str(), m_strTarget.c_str(), 0) == 0) {
        m_strTemporary.clear();  // it is the target now
        return;
    }
    const int error = errno;
    CallOf(FileCalls().remove)(m_strTemporary.c_str());
    m_strTemporary.clear();
    throw CFileException(error, m_strTarget);
}
