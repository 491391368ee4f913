#include "platform/MappedFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/File.h"
#include "platform/FileCalls.h"
#include "platform/Path.h"

namespace {

// A descriptor closed however the mapping goes: a mapping outlives its descriptor.
struct Descriptor {
    int fd;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

void* Map(int fd, std::size_t size, bool writable, const std::string& path)
{
    if (size == 0)
        return nullptr;  // nothing to map; Data() of an empty file is never read
    void* data = ::mmap(nullptr, size, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED)
        throw CFileException(errno, path);
    return data;
}

}  // namespace

CMappedFile CMappedFile::Read(const std::string& strPath)
{
    Descriptor file{::open(ToNativePath(strPath).c_str(), O_RDONLY | O_CLOEXEC)};
    struct stat st {};
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0)
        throw CFileException(errno, strPath);
    if (!S_ISREG(st.st_mode))
        throw CFileException(EISDIR, strPath);
    const auto size = static_cast<std::size_t>(st.st_size);
    return CMappedFile(strPath, Map(file.fd, size, false, strPath), size);
}

CMappedFile CMappedFile::Create(const std::string& strPath, std::uint64_t nSize)
{
    const std::string native = ToNativePath(strPath);
    if (CallOf(FileCalls().remove)(native.c_str()) != 0 && errno != ENOENT)
        throw CFileException(errno, strPath);
    Descriptor file{CallOf(FileCalls().open)(native.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666)};
    if (file.fd < 0)
        throw CFileException(errno, strPath);
    // The blocks are taken now: a full disk fails here, not as a fault in the middle of a write
    // through the map.
    if (nSize > 0)
        if (int error = ::posix_fallocate(file.fd, 0, static_cast<off_t>(nSize)); error != 0)
            throw CFileException(error, strPath);
    const auto size = static_cast<std::size_t>(nSize);
    return CMappedFile(strPath, Map(file.fd, size, true, strPath), size);
}

void CMappedFile::Unmap(void* pData, std::size_t nSize)
{
    ::munmap(pData, nSize);
}
