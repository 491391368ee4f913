#pragma once
// Writes zip archives for tests with minizip's writer: entries with any host system, external
// attributes, DOS time and local extra field, and raw entries whose CRC-32, sizes or compressed
// data are whatever the test says.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct ZipItem {
    ZipItem(std::string strName = {}, std::string strData = {}) : name(std::move(strName)), data(std::move(strData)) {}

    std::string name;
    std::string data;
    bool deflate = true;
    unsigned host = 3;                        // 0 MS-DOS, 3 Unix
    std::uint32_t external = 0100644u << 16;  // Unix mode in the upper half, DOS bits in the low byte
    std::uint32_t dosDate = 0x5A8B6000;       // 2025-04-11 12:00:00
    std::string localExtra;
    // Raw entries: `data` is written as the entry's stored (or deflated) bytes as it is.
    bool raw = false;
    std::uint32_t rawCrc = 0;
    std::uint64_t rawUncompressedSize = 0;
};

ZipItem Directory(const std::string& name);
// An extended-timestamp ("UT") local extra field with the flags and times given.
std::string ExtendedTimestamp(unsigned flags, std::int32_t mtime, std::int32_t atime, std::int32_t ctime);
std::uint32_t Crc32(const std::string& data);

// Throws std::runtime_error when minizip fails.
void WriteZip(const std::string& path, const std::vector<ZipItem>& items);
