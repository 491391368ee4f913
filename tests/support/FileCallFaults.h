#pragma once
// A test's failure of one of the platform's file calls (platform/FileCalls.h): the nth call of
// its kind made while the fault lives (counted from 1) fails with the error given, as the
// system's call would, and every other goes on to the system. The calls of the kind are counted,
// the failed one included.
//
// Threads: made before the threads that write start and dropped after they end (see
// FileCalls.h); one fault of a kind at a time.

#include <memory>

enum class FileCall {
    kOpen,
    kWrite,
    kFlush,  // of one file: fsync, FlushFileBuffers
    kRename,
    kLink,
    kRemove,
    kMakeDirectory,
#ifndef _WIN32
    kFlushFileSystem,  // syncfs; Windows flushes a file system file by file
#endif
};

// An error as each system names it.
enum class FileError {
    kDiskFull,      // ENOSPC, ERROR_DISK_FULL
    kAccessDenied,  // EACCES, ERROR_ACCESS_DENIED
    kOtherDisk,     // EXDEV, ERROR_NOT_SAME_DEVICE
    kNoHardLinks,   // EPERM, ERROR_INVALID_FUNCTION: what a FAT disk answers a hard link
    kDeviceError,   // EIO, ERROR_IO_DEVICE
};

class CFileCallFault {
public:
    CFileCallFault(FileCall call, long nth, FileError error);
    ~CFileCallFault();
    CFileCallFault(const CFileCallFault&) = delete;
    CFileCallFault& operator=(const CFileCallFault&) = delete;

    long Calls() const;
    bool Failed() const { return Calls() >= m_nth; }

private:
    const FileCall m_call;
    const long m_nth;
    std::shared_ptr<void> m_swap;  // the swapped entry, whatever its type
};
