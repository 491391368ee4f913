#pragma once
// The results of reading a zip archive, shared by the reader and the entry data it hands to its
// parts. ZipResultText (archive/ZipReader.h) says each for the log.

enum class ZipResult {
    Ok,
    NoFile,    // the archive or the target cannot be opened or created
    Write,     // writing the target failed
    Corrupt,   // the local header does not match the central directory
    Seek,      // the local extra field or the position cannot be read
    Password,  // the entry is encrypted
    Args,      // no reader, or no such entry
    Flate,     // the data cannot be read or inflated, end early or fail their CRC
};
