#pragma once

#include <cstdint>
#include <string>

// Windows file-attribute bits, as the archive layer describes entries.
inline constexpr std::uint32_t FILE_ATTRIBUTE_READONLY = 0x01;
inline constexpr std::uint32_t FILE_ATTRIBUTE_HIDDEN = 0x02;
inline constexpr std::uint32_t FILE_ATTRIBUTE_SYSTEM = 0x04;
inline constexpr std::uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr std::uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;

// One entry of a zip archive, or (index -1 asked for) the archive: then index is the number of
// entries and everything else is empty. Times are FILETIMEs: 100 ns units since 1601-01-01 UTC.
struct tagZipEntry {
    int index = 0;
    std::string name;  // the stored name, cleaned of drive prefixes, leading separators and inner "/../"
    std::uint32_t attr = 0;
    std::uint64_t atime = 0;
    std::uint64_t ctime = 0;
    std::uint64_t mtime = 0;
    std::uint64_t comp_size = 0;  // Zip64 records give sizes of 4 GiB and more
    std::uint64_t unc_size = 0;
    std::uint32_t unix_mode = 0;  // permission bits of an entry made on a Unix-like host; 0 otherwise
    bool link = false;            // a symbolic link (made on a Unix-like host); its data are the target
    unsigned method = 0;          // the compression method number: 0 stored, 8 deflated
    bool encrypted = false;
    // Where the entry's compressed data begin in the archive; 0 when the entry is of a method
    // that cannot be read (its local header is not looked at).
    std::uint64_t data_offset = 0;
    std::uint32_t crc = 0;
    bool zip64 = false;  // it has a Zip64 record, and is read without minizip
};
