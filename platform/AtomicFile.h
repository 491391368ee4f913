#pragma once
// A file written whole or not at all. The bytes go to a temporary file beside the target, which
// is renamed over the target only once complete; whatever fails on the way, and whenever the
// writer is dropped without committing, the temporary file is removed and the target is as it
// was. Failures throw CFileException with the system's text.

#include <cstddef>
#include <string>
#include <sys/types.h>

// A name for a temporary file in the same directory as the (native) path, short enough for any
// file name beside it and unique within this process: where an atomic write goes first.
std::string SiblingTempPath(const std::string& nativePath);

class CAtomicFile {
public:
    // Creates the temporary file beside the (native) target; mode is masked by the umask.
    explicit CAtomicFile(const std::string& nativeTarget, mode_t mode = 0666);
    ~CAtomicFile();
    CAtomicFile(const CAtomicFile&) = delete;
    CAtomicFile& operator=(const CAtomicFile&) = delete;

    // For what sets the file's mode or times, or writes it by other means (sendfile).
    int Descriptor() const { return m_fd; }
    const std::string& TemporaryPath() const { return m_strTemporary; }

    void Write(const void* pData, std::size_t nSize);
    // Syncs the data when they must survive a power cut, closes the file and renames it over
    // the target.
    void Commit(bool bDurable);
    // Commits under another target, beside the first: for a file named by its content, whose
    // name is known only once it is written.
    void CommitAs(const std::string& nativeTarget, bool bDurable);

private:
    std::string m_strTarget;
    std::string m_strTemporary;
    int m_fd = -1;
};
