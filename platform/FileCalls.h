#pragma once
// The system calls through which the platform layer changes files, in one table: CFile,
// CAtomicFile and the functions of FileSystem.h make these calls through it, never directly, so
// that a test can put a call of its own in one entry (a write that finds the disk full, a rename
// that is refused) and see what the code above makes of it, as SQLite's tests swap the system
// calls of its VFS. Each entry has the system call's own arguments and answers: -1 (or FALSE, or
// INVALID_HANDLE_VALUE) with errno (or GetLastError) set. The log and the terminal write around
// the table: the calls a test counts are those of the files, and the log still says what failed.
// The opens of CFile, CAtomicFile and CMappedFile::Create go through it; the looks at a file's
// facts and the other reads go around it.
//
// Threads: the entries are atomic, so a swap never races a call another thread is making; a
// replacement's own state, set before the swap, is seen by every call that finds the
// replacement. What a swap cannot do is hold back a call already in flight: swap before the
// threads that write start, and put the system's back after they end.

#include <atomic>
#include <cstddef>

#ifdef _WIN32
struct FileCallTable {
    // CreateFileW with every sharing mode, no security attributes and no template.
    std::atomic<void* (*)(const wchar_t* path, unsigned long access, unsigned long disposition, unsigned long flags)> open;
    std::atomic<int (*)(void* handle, const void* data, unsigned long size, unsigned long* written)> write;  // WriteFile
    std::atomic<int (*)(void* handle)> flush;                                                           // FlushFileBuffers
    std::atomic<int (*)(const wchar_t* from, const wchar_t* to, unsigned long flags)> rename;            // MoveFileExW
    std::atomic<int (*)(const wchar_t* newName, const wchar_t* existing)> link;                          // CreateHardLinkW
    std::atomic<int (*)(const wchar_t* path)> remove;                                                   // DeleteFileW
    std::atomic<int (*)(const wchar_t* path)> makeDirectory;                                            // CreateDirectoryW
};
#else
#include <sys/types.h>

struct FileCallTable {
    std::atomic<int (*)(const char* path, int flags, mode_t mode)> open;          // open(2)
    std::atomic<ssize_t (*)(int fd, const void* data, std::size_t size)> write;   // write(2)
    std::atomic<int (*)(int fd)> flush;                                           // fsync(2)
    std::atomic<int (*)(const char* from, const char* to, unsigned flags)> rename;  // renameat2(2) from the working directory
    std::atomic<int (*)(const char* existing, const char* newName)> link;         // link(2)
    std::atomic<int (*)(const char* path)> remove;                                // unlink(2)
    std::atomic<int (*)(const char* path, mode_t mode)> makeDirectory;            // mkdir(2)
    std::atomic<int (*)(int fd)> flushFileSystem;                                 // syncfs(2)
};
#endif

// The table the platform layer calls through; at first every entry is the system's own call.
FileCallTable& FileCalls();

// Puts another call in one entry of the table for as long as it lives, then the one it found.
template <class Call>
class CSwappedFileCall {
public:
    CSwappedFileCall(std::atomic<Call>& entry, Call replacement)
        : m_entry(entry), m_previous(entry.exchange(replacement, std::memory_order_acq_rel))
    {
    }
    ~CSwappedFileCall() { m_entry.store(m_previous, std::memory_order_release); }
    CSwappedFileCall(const CSwappedFileCall&) = delete;
    CSwappedFileCall& operator=(const CSwappedFileCall&) = delete;

    // What the entry held before: for a replacement that lets most calls through.
    Call Previous() const { return m_previous; }

private:
    std::atomic<Call>& m_entry;
    const Call m_previous;
};

// The entry's current call, for the platform's own files: `CallOf(FileCalls().write)(fd, p, n)`.
template <class Call>
Call CallOf(const std::atomic<Call>& entry)
{
    return entry.load(std::memory_order_acquire);
}
