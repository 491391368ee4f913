#pragma once
// Writing zip archives, over minizip's writer: the publisher's packages, and the tests' archives
// of every kind the reader must take. The program itself only reads archives; this is a library
// of its own, which the program does not link.

#include <cstdint>
#include <ctime>
#include <string>

// How an entry is stored and what its headers say of the file.
struct ZipEntryHeader {
    std::string name;
    bool deflate = true;                      // false: stored
    unsigned host = 3;                        // the system that made it: 0 MS-DOS, 3 Unix
    std::uint32_t external = 0100644u << 16;  // Unix mode in the upper half, DOS bits in the low byte
    std::uint32_t dosDate = 0x00210000;       // last write, in DOS's packing (1980-01-01 00:00:00)
    std::string localExtra;                   // the local header's extra field
    bool zip64 = false;                       // a Zip64 record from the start, for sizes past 4 GiB
};

// One archive, written entry by entry. Every failure throws std::runtime_error, whose text says
// what failed; the caller names the file.
class ZipWriter {
public:
    explicit ZipWriter(const std::string& path);
    // An archive not finished is closed as it stands.
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Starts an entry, whose data follow through Write. A raw entry takes the data as its stored
    // (or deflated) bytes as they are, and its CRC-32 and size from EndRaw.
    void Begin(const ZipEntryHeader& header, bool raw = false);
    void Write(const char* data, std::size_t size);
    void End();
    void EndRaw(std::uint64_t uncompressedSize, std::uint32_t crc);
    // Writes the central directory.
    void Finish();

private:
    void* m_zip = nullptr;  // minizip's zipFile
    std::string m_entry;    // the name of the entry being written, for the errors
};

// The local time given in DOS's packing; times before 1980, which it cannot hold, as 1980 begins.
std::uint32_t DosDateTime(std::time_t time);
// An extended-timestamp ("UT") extra field with the flags (1 mtime, 2 atime, 4 ctime) and the
// times that they name.
std::string ExtendedTimestamp(unsigned flags, std::int32_t mtime, std::int32_t atime = 0, std::int32_t ctime = 0);
