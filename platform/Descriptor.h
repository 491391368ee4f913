#pragma once
// Files read and adjusted through a descriptor (the C runtime's int, which owns the system's
// handle): for what reads a file at places of its own choosing (an archive's entries), and for
// what gives a file written through CAtomicFile::Descriptor() the mode and times it must have.
//
// Threads: any; a descriptor is used by one thread at a time. Errors: each function returns -1,
// false or nothing and leaves errno set; nothing throws.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

// A point in time as the file system keeps it: seconds since the epoch (before it, negative) and
// the nanoseconds after them.
struct FileTimePoint {
    std::int64_t nSeconds = 0;
    long nNanoseconds = 0;
};

struct DescriptorFacts {
    std::uint64_t nSize = 0;
    mode_t mode = 0;  // the permission bits
    FileTimePoint accessed;
    FileTimePoint modified;
};

// Opens a regular file for reading, without waiting for anything (a pipe at the name fails);
// -1 when the name is no regular file (EISDIR for a directory or anything else). With bNoFollow,
// a symbolic link at the name is not followed but fails.
int OpenForReading(const std::string& strPath, bool bNoFollow = false);
// Reads up to nCount bytes from the current position: how many, 0 at the end, -1 on failure.
std::int64_t ReadDescriptor(int fd, void* pBuffer, std::size_t nCount);
// Reads up to nCount bytes at the offset, leaving the position alone.
std::int64_t ReadDescriptorAt(int fd, void* pBuffer, std::size_t nCount, std::uint64_t nOffset);
std::optional<DescriptorFacts> GetDescriptorFacts(int fd);
// Sets the permission bits (Windows keeps only whether the owner may write).
bool SetDescriptorMode(int fd, mode_t mode);
bool SetDescriptorTimes(int fd, const FileTimePoint& accessed, const FileTimePoint& modified);
void CloseDescriptor(int fd);
