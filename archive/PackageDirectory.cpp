#include "archive/PackageDirectory.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <minizip/unzip.h>
#include <vector>

#include "archive/LittleEndian.h"
#include "archive/Zip64Entry.h"

namespace {

// An archive of which only the last bytes are at hand: a read before them finds nothing.
struct ArchiveTail {
    std::string_view bytes;
    std::uint64_t size = 0;
    std::uint64_t position = 0;
    std::uint64_t Start() const { return size - bytes.size(); }
};

voidpf Open(voidpf opaque, const void*, int)
{
    auto* tail = static_cast<ArchiveTail*>(opaque);
    tail->position = 0;
    return tail;
}

// Bytes before the tail read as zeros: the search for the end record reads a fixed window that
// may begin before the tail, and a directory header that begins there fails its signature.
uLong Read(voidpf, voidpf stream, void* out, uLong count)
{
    auto* tail = static_cast<ArchiveTail*>(stream);
    auto* to = static_cast<char*>(out);
    const std::uint64_t end = std::min<std::uint64_t>(tail->position + count, tail->size);
    if (tail->position >= end)
        return 0;
    const std::uint64_t known = std::max(tail->position, tail->Start());
    const std::size_t zeros = static_cast<std::size_t>(std::min(known, end) - tail->position);
    std::memset(to, 0, zeros);
    if (known < end)
        std::memcpy(to + zeros, tail->bytes.data() + (known - tail->Start()), static_cast<std::size_t>(end - known));
    const auto n = static_cast<uLong>(end - tail->position);
    tail->position = end;
    return n;
}

uLong Write(voidpf, voidpf, const void*, uLong)
{
    return 0;
}

ZPOS64_T Tell(voidpf, voidpf stream)
{
    return static_cast<ArchiveTail*>(stream)->position;
}

long Seek(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    auto* tail = static_cast<ArchiveTail*>(stream);
    const std::uint64_t base = origin == ZLIB_FILEFUNC_SEEK_CUR ? tail->position
                             : origin == ZLIB_FILEFUNC_SEEK_END ? tail->size
                                                                : 0;
    tail->position = base + offset;
    return 0;
}

int Close(voidpf, voidpf)
{
    return 0;
}

int Error(voidpf, voidpf)
{
    return 0;
}

// The size the central header at centralOffset gives its entry, or its Zip64 record's when the
// header's own reads 0xFFFFFFFF; a record too short to hold a size leaves that mark. Read from the
// bytes here rather than taken from minizip, which reads the record itself only where a long has
// 32 bits (Windows), and there whatever length the record gives. minizip's size when the header
// is not where the offset says (an archive with bytes before it).
std::uint64_t UncompressedSize(const ArchiveTail& tail, std::uint64_t centralOffset, const unz_file_info64& info,
                               const unsigned char* extra)
{
    constexpr std::uint64_t kHeaderSize = 46, kSizeField = 24, kMarker = 0xFFFFFFFF;
    if (centralOffset < tail.Start() || centralOffset + kHeaderSize > tail.size)
        return info.uncompressed_size;
    const auto* header = reinterpret_cast<const unsigned char*>(tail.bytes.data()) + (centralOffset - tail.Start());
    if (LittleEndian(header, 4) != 0x02014b50)
        return info.uncompressed_size;
    const std::uint64_t size = LittleEndian(header + kSizeField, 4);
    return size == kMarker ? Zip64UncompressedSize(extra, info.size_file_extra).value_or(kMarker) : size;
}

}  // namespace

std::optional<std::uint64_t> UnpackedSizeFromTail(std::string_view tail, std::uint64_t nArchiveSize)
{
    if (tail.size() > nArchiveSize)
        return std::nullopt;
    ArchiveTail archive{tail, nArchiveSize};
    zlib_filefunc64_def functions{Open, Read, Write, Tell, Seek, Close, Error, &archive};
    unzFile zip = unzOpen2_64("package", &functions);
    if (!zip)
        return std::nullopt;
    std::uint64_t total = 0;
    int result = unzGoToFirstFile(zip);
    std::vector<unsigned char> extra(0xFFFF);
    for (; result == UNZ_OK; result = unzGoToNextFile(zip)) {
        unz_file_info64 info{};
        if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, extra.data(), extra.size(), nullptr, 0) != UNZ_OK)
            break;
        const std::uint64_t size = UncompressedSize(archive, unzGetOffset64(zip), info, extra.data());
        total += std::min(size, UINT64_MAX - total);  // a claim past any disk saturates
    }
    unzClose(zip);
    if (result != UNZ_END_OF_LIST_OF_FILE)
        return std::nullopt;
    return total;
}
