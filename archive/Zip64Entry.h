#pragma once
// Entries with Zip64 records, read straight from the archive file. The minizip this program is
// built with leaves a Zip64 record's sizes and offset unread on Linux (they stay 0xFFFFFFFF), so it
// can neither size such an entry nor find its data there; on Windows, where a long has 32 bits, it
// reads them without checking the record's length; zip -fz writes such records for small entries,
// and every creator writes them for entries of 4 GiB or more, or beyond 4 GiB into the archive.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "archive/ZipEntry.h"
#include "archive/ZipResult.h"

// Whether the central extra field holds a Zip64 record.
bool HasZip64Record(const unsigned char* extra, std::size_t size);

// The uncompressed size in the central extra field's Zip64 record: its first number, there when
// the central header's own size is 0xFFFFFFFF.
std::optional<std::uint64_t> Zip64UncompressedSize(const unsigned char* extra, std::size_t size);

// Takes the entry's sizes and its local header's offset from its central header (at
// centralOffset) and the Zip64 record in its central extra field, then finds its data and local
// extra field behind the local header. False when the headers cannot be read or do not add up.
bool DescribeZip64Entry(int archiveFd, std::uint64_t centralOffset, const unsigned char* extra, std::size_t size,
                        tagZipEntry& entry, std::vector<unsigned char>& localExtra);

// Hands the entry's uncompressed data to `sink` block by block (stored data copied, deflated data
// inflated) until the sink returns false or the data end; checks their size and CRC-32 when they
// were read to the end. Returns a ZipResult.
ZipResult ReadZip64EntryData(int archiveFd, const tagZipEntry& entry, std::vector<char>& buffer,
                       const std::function<bool(const char*, std::size_t)>& sink);
