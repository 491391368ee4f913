#include "platform/FileCalls.h"

// <windows.h> itself, not Wide.h: Wide.cpp calls through this table.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// The table's entries are the program's own functions of its own shapes, over the system's: the
// system's carry the WINAPI calling convention and arguments the layer never uses (security
// attributes, a template, an overlapped write).
namespace {

void* Open(const wchar_t* path, unsigned long access, unsigned long disposition, unsigned long flags)
{
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    return ::CreateFileW(path, access, kShareAll, nullptr, disposition, flags, nullptr);
}

int Write(void* handle, const void* data, unsigned long size, unsigned long* written)
{
    return ::WriteFile(handle, data, size, written, nullptr);
}

int Flush(void* handle)
{
    return ::FlushFileBuffers(handle);
}

int Rename(const wchar_t* from, const wchar_t* to, unsigned long flags)
{
    return ::MoveFileExW(from, to, flags);
}

int Link(const wchar_t* newName, const wchar_t* existing)
{
    return ::CreateHardLinkW(newName, existing, nullptr);
}

int Remove(const wchar_t* path)
{
    return ::DeleteFileW(path);
}

int MakeDirectory(const wchar_t* path)
{
    return ::CreateDirectoryW(path, nullptr);
}

}  // namespace

FileCallTable& FileCalls()
{
    static FileCallTable table{Open, Write, Flush, Rename, Link, Remove, MakeDirectory};
    return table;
}
