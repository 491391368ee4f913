#pragma once
// Zip archives for tests, as odd as a test needs them: entries with any host system, external
// attributes, DOS time and local extra field, and raw entries whose CRC-32, sizes or compressed
// data are whatever the test says.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "archive/ZipWriter.h"

struct ZipItem : ZipEntryHeader {
    ZipItem(std::string strName = {}, std::string strData = {}) : data(std::move(strData))
    {
        name = std::move(strName);
        dosDate = 0x5A8B6000;  // 2025-04-11 12:00:00
    }

    std::string data;
    // Raw entries: `data` is written as the entry's stored (or deflated) bytes as it is.
    bool raw = false;
    std::uint32_t rawCrc = 0;
    std::uint64_t rawUncompressedSize = 0;
};

ZipItem Directory(const std::string& name);
std::uint32_t Crc32(const std::string& data);

// Throws std::runtime_error when the archive cannot be written.
void WriteZip(const std::string& path, const std::vector<ZipItem>& items);
