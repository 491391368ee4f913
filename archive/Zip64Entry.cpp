#include "archive/Zip64Entry.h"

#include <algorithm>
#include <memory>
#include <zlib.h>

#include "archive/LittleEndian.h"
#include "archive/ZipResult.h"
#include "platform/Descriptor.h"

namespace {

constexpr std::uint32_t kMarker = 0xFFFFFFFFu;
constexpr std::size_t kCentralHeaderSize = 46, kLocalHeaderSize = 30;

bool ReadAt(int fd, void* data, std::size_t size, std::uint64_t offset)
{
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        const std::int64_t got = ReadDescriptorAt(fd, p, size, offset);
        if (got <= 0)
            return false;
        p += got;
        size -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

// The Zip64 record's data and length, or nothing.
const unsigned char* FindRecord(const unsigned char* extra, std::size_t size, std::size_t& length)
{
    for (std::size_t at = 0; at + 4 <= size;) {
        length = std::min<std::size_t>(LittleEndian(extra + at + 2, 2), size - at - 4);
        if (LittleEndian(extra + at, 2) == 1)
            return extra + at + 4;
        at += 4 + length;
    }
    return nullptr;
}

// The record holds, in this order, the 64-bit values of the central fields that read 0xFFFFFFFF.
bool TakeRecordValues(const unsigned char* record, std::size_t length, std::uint64_t& uncompressed,
                      std::uint64_t& compressed, std::uint64_t& localOffset)
{
    for (std::uint64_t* value : {&uncompressed, &compressed, &localOffset}) {
        if (*value != kMarker)
            continue;
        if (length < 8)
            return false;
        *value = LittleEndian(record, 8);
        record += 8;
        length -= 8;
    }
    return true;
}

// Inflates or copies the compressed data as the sink asks for them.
class CEntryDataReader {
public:
    CEntryDataReader(int fd, const tagZipEntry& entry) : m_fd(fd), m_entry(entry), m_next(entry.data_offset), m_left(entry.comp_size) {}
    ~CEntryDataReader()
    {
        if (m_inflating)
            inflateEnd(&m_stream);
    }

    ZipResult Run(std::vector<char>& out, const std::function<bool(const char*, std::size_t)>& sink)
    {
        if (m_entry.method == Z_DEFLATED) {
            if (inflateInit2(&m_stream, -MAX_WBITS) != Z_OK)
                return ZipResult::Flate;
            m_inflating = true;
        }
        std::uint64_t produced = 0;
        uLong crc = crc32(0, nullptr, 0);
        for (bool ended = false; !ended;) {
            std::size_t n = 0;
            if (ZipResult result = Next(out, n, ended); result != ZipResult::Ok)
                return result;
            produced += n;
            if (produced > m_entry.unc_size)
                return ZipResult::Flate;
            crc = crc32(crc, reinterpret_cast<const Bytef*>(out.data()), static_cast<uInt>(n));
            if (n > 0 && !sink(out.data(), n))
                return ZipResult::Ok;  // the sink has what it wants, or failed and says so itself
        }
        return produced == m_entry.unc_size && crc == m_entry.crc ? ZipResult::Ok : ZipResult::Flate;
    }

private:
    // The next block of uncompressed data into `out`; `ended` once the data are complete.
    ZipResult Next(std::vector<char>& out, std::size_t& n, bool& ended)
    {
        if (!m_inflating) {
            n = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), m_left));
            if (!ReadAt(m_fd, out.data(), n, m_next))
                return ZipResult::Flate;
            m_next += n;
            m_left -= n;
            ended = m_left == 0;
            return ZipResult::Ok;
        }
        m_stream.next_out = reinterpret_cast<Bytef*>(out.data());
        m_stream.avail_out = static_cast<uInt>(out.size());
        while (m_stream.avail_out > 0 && !ended) {
            if (m_stream.avail_in == 0) {
                if (m_left == 0)
                    return ZipResult::Flate;  // the data end before the deflate stream does
                const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof m_input, m_left));
                if (!ReadAt(m_fd, m_input, size, m_next))
                    return ZipResult::Flate;
                m_next += size;
                m_left -= size;
                m_stream.next_in = m_input;
                m_stream.avail_in = static_cast<uInt>(size);
            }
            const int status = inflate(&m_stream, Z_NO_FLUSH);
            if (status == Z_STREAM_END)
                ended = true;
            else if (status != Z_OK)
                return ZipResult::Flate;
        }
        n = out.size() - m_stream.avail_out;
        return ZipResult::Ok;
    }

    int m_fd;
    const tagZipEntry& m_entry;
    std::uint64_t m_next, m_left;
    z_stream m_stream{};
    bool m_inflating = false;
    Bytef m_input[64 * 1024];
};

}  // namespace

bool HasZip64Record(const unsigned char* extra, std::size_t size)
{
    std::size_t length = 0;
    return FindRecord(extra, size, length) != nullptr;
}

std::optional<std::uint64_t> Zip64UncompressedSize(const unsigned char* extra, std::size_t size)
{
    std::size_t length = 0;
    const unsigned char* record = FindRecord(extra, size, length);
    if (!record || length < 8)
        return std::nullopt;
    return LittleEndian(record, 8);
}

bool DescribeZip64Entry(int archiveFd, std::uint64_t centralOffset, const unsigned char* extra, std::size_t size,
                        tagZipEntry& entry, std::vector<unsigned char>& localExtra)
{
    unsigned char central[kCentralHeaderSize];
    if (!ReadAt(archiveFd, central, sizeof central, centralOffset) || LittleEndian(central, 4) != 0x02014b50)
        return false;
    std::uint64_t uncompressed = LittleEndian(central + 24, 4), compressed = LittleEndian(central + 20, 4);
    std::uint64_t localOffset = LittleEndian(central + 42, 4);
    std::size_t length = 0;
    const unsigned char* record = FindRecord(extra, size, length);
    if (!record || !TakeRecordValues(record, length, uncompressed, compressed, localOffset))
        return false;
    entry.unc_size = uncompressed;
    entry.comp_size = compressed;

    unsigned char local[kLocalHeaderSize];
    if (!ReadAt(archiveFd, local, sizeof local, localOffset) || LittleEndian(local, 4) != 0x04034b50)
        return false;
    const std::size_t nameLength = LittleEndian(local + 26, 2), extraLength = LittleEndian(local + 28, 2);
    localExtra.resize(extraLength);
    if (!ReadAt(archiveFd, localExtra.data(), extraLength, localOffset + kLocalHeaderSize + nameLength))
        return false;
    entry.data_offset = localOffset + kLocalHeaderSize + nameLength + extraLength;
    entry.zip64 = true;
    return true;
}

ZipResult ReadZip64EntryData(int archiveFd, const tagZipEntry& entry, std::vector<char>& buffer,
                       const std::function<bool(const char*, std::size_t)>& sink)
{
    if (entry.method != 0 && entry.method != Z_DEFLATED)
        return ZipResult::Flate;
    auto reader = std::make_unique<CEntryDataReader>(archiveFd, entry);
    return reader->Run(buffer, sink);
}
