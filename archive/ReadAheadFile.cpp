#include "archive/ReadAheadFile.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <minizip/ioapi.h>
#include <vector>

#include "platform/Descriptor.h"

namespace {

constexpr std::size_t kReadAhead = 512 * 1024;

// minizip reads at two places by turns: the central directory at the end of the archive and the
// entries' headers and data before it. Each gets a window of its own.
struct Window {
    std::vector<char> data = std::vector<char>(kReadAhead);
    std::uint64_t start = 0;
    std::size_t length = 0;
    bool Holds(std::uint64_t position) const { return position >= start && position < start + length; }
};

struct ReadAheadFile {
    int fd = -1;
    std::uint64_t size = 0;
    std::uint64_t position = 0;
    Window windows[2];
    int lastUsed = 0;
    bool failed = false;
};

// The window that holds the position, filled from the file when neither does.
Window* WindowAt(ReadAheadFile& file)
{
    for (int i = 0; i < 2; ++i) {
        if (file.windows[i].Holds(file.position)) {
            file.lastUsed = i;
            return &file.windows[i];
        }
    }
    Window& window = file.windows[1 - file.lastUsed];
    for (;;) {
        const std::int64_t n = ReadDescriptorAt(file.fd, window.data.data(), window.data.size(), file.position);
        if (n <= 0) {
            file.failed = n < 0;
            return nullptr;
        }
        window.start = file.position;
        window.length = static_cast<std::size_t>(n);
        file.lastUsed = 1 - file.lastUsed;
        return &window;
    }
}

voidpf Open(voidpf, const void* filename, int mode)
{
    if (!filename || (mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ)
        return nullptr;
    // A pipe planted at the name fails to open instead of waiting for a writer.
    const int fd = OpenForReading(static_cast<const char*>(filename));
    const std::optional<DescriptorFacts> facts = fd < 0 ? std::nullopt : GetDescriptorFacts(fd);
    if (!facts) {
        if (fd >= 0)
            CloseDescriptor(fd);
        return nullptr;
    }
    auto* file = new ReadAheadFile;
    file->fd = fd;
    file->size = facts->nSize;
    return file;
}

uLong Read(voidpf, voidpf stream, void* out, uLong size)
{
    auto* file = static_cast<ReadAheadFile*>(stream);
    auto* to = static_cast<char*>(out);
    uLong done = 0;
    while (done < size) {
        Window* window = WindowAt(*file);
        if (!window)
            break;
        std::size_t offset = static_cast<std::size_t>(file->position - window->start);
        std::size_t n = std::min<std::size_t>(size - done, window->length - offset);
        std::memcpy(to + done, window->data.data() + offset, n);
        done += n;
        file->position += n;
    }
    return done;
}

uLong Write(voidpf, voidpf, const void*, uLong)
{
    return 0;  // archives are only read
}

ZPOS64_T Tell(voidpf, voidpf stream)
{
    return static_cast<ReadAheadFile*>(stream)->position;
}

long Seek(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    auto* file = static_cast<ReadAheadFile*>(stream);
    std::uint64_t base = origin == ZLIB_FILEFUNC_SEEK_CUR ? file->position
                       : origin == ZLIB_FILEFUNC_SEEK_END ? file->size
                                                          : 0;
    file->position = base + offset;
    return 0;
}

int Close(voidpf, voidpf stream)
{
    auto* file = static_cast<ReadAheadFile*>(stream);
    CloseDescriptor(file->fd);
    delete file;
    return 0;
}

int Error(voidpf, voidpf stream)
{
    return static_cast<ReadAheadFile*>(stream)->failed ? 1 : 0;
}

}  // namespace

void SetReadAheadFileFunctions(zlib_filefunc64_def_s& functions)
{
    functions = zlib_filefunc64_def{Open, Read, Write, Tell, Seek, Close, Error, nullptr};
}
