#pragma once
// The results of reading a zip archive (0 for success), shared by the reader and the entry data
// it hands to its parts.

inline constexpr int ZR_OK = 0;
inline constexpr int ZR_NOFILE = 0x00000200;    // the archive or the target cannot be opened or created
inline constexpr int ZR_WRITE = 0x00000400;     // writing the target failed
inline constexpr int ZR_CORRUPT = 0x00000700;   // the local header does not match the central directory
inline constexpr int ZR_SEEK = 0x00000800;      // the local extra field or the position cannot be read
inline constexpr int ZR_PASSWORD = 0x00001000;  // the entry is encrypted
inline constexpr int ZR_ARGS = 0x00010000;      // no reader, or no such entry
inline constexpr int ZR_FLATE = 0x05000000;     // the data cannot be read or inflated, end early or fail their CRC
