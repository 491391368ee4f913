#include "platform/FileCalls.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int Open(const char* path, int flags, mode_t mode)
{
    return ::open(path, flags, mode);
}

int Rename(const char* from, const char* to, unsigned flags)
{
    return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, flags);
}

}  // namespace

FileCallTable& FileCalls()
{
    // open(2) takes its mode as a variadic argument, and renameat2 directories as well: the two
    // are wrapped to the table's shapes; the rest are the system's calls themselves.
    static FileCallTable table{Open, ::write, ::fsync, Rename, ::link, ::unlink, ::mkdir, ::syncfs};
    return table;
}
