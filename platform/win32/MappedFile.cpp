#include "platform/MappedFile.h"

#include <cerrno>

#include "platform/File.h"
#include "platform/win32/Wide.h"

namespace {

// A handle closed however the mapping goes: a view outlives the handles it was made from.
struct Handle {
    HANDLE handle;
    ~Handle()
    {
        if (handle && handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle);
    }
};

void* Map(HANDLE file, std::size_t size, bool writable, const std::string& path)
{
    if (size == 0)
        return nullptr;  // nothing to map (Windows cannot map an empty file); Data() is never read
    const Handle mapping{::CreateFileMappingW(file, nullptr, writable ? PAGE_READWRITE : PAGE_READONLY, 0, 0, nullptr)};
    void* data = mapping.handle ? ::MapViewOfFile(mapping.handle, writable ? FILE_MAP_WRITE : FILE_MAP_READ, 0, 0, size) : nullptr;
    if (!data)
        throw CFileException(ErrnoOfLastError(), path);
    return data;
}

}  // namespace

CMappedFile CMappedFile::Read(const std::string& strPath)
{
    const Handle file{OpenShared(WidePath(strPath), GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL)};
    if (file.handle == INVALID_HANDLE_VALUE)
        throw CFileException(errno == EACCES && IsDirectoryName(WidePath(strPath)) ? EISDIR : errno, strPath);
    LARGE_INTEGER size{};
    if (::GetFileType(file.handle) != FILE_TYPE_DISK)
        throw CFileException(EISDIR, strPath);
    if (!::GetFileSizeEx(file.handle, &size))
        throw CFileException(ErrnoOfLastError(), strPath);
    const auto bytes = static_cast<std::size_t>(size.QuadPart);
    return CMappedFile(strPath, Map(file.handle, bytes, false, strPath), bytes);
}

// What had the name is deleted first and the file made with CREATE_NEW, never through a link.
// Its size is set before the mapping: a full disk fails here, not in the middle of a write
// through the map.
CMappedFile CMappedFile::Create(const std::string& strPath, std::uint64_t nSize)
{
    const std::wstring wide = WidePath(strPath);
    if (!DeleteFileForcibly(wide) && errno != ENOENT)
        throw CFileException(errno, strPath);
    const Handle file{OpenSharedFile(wide, GENERIC_READ | GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL)};
    if (file.handle == INVALID_HANDLE_VALUE)
        throw CFileException(errno, strPath);
    LARGE_INTEGER size{};
    size.QuadPart = static_cast<LONGLONG>(nSize);
    if (!::SetFilePointerEx(file.handle, size, nullptr, FILE_BEGIN) || !::SetEndOfFile(file.handle))
        throw CFileException(ErrnoOfLastError(), strPath);
    const auto bytes = static_cast<std::size_t>(nSize);
    return CMappedFile(strPath, Map(file.handle, bytes, true, strPath), bytes);
}

void CMappedFile::Unmap(void* pData, std::size_t)
{
    ::UnmapViewOfFile(pData);
}
