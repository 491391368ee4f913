#pragma once
// The Windows file facts in the program's terms: FILETIMEs (100 ns since 1601) as times since
// the Unix epoch, and the read-only attribute as permission bits, the only ones Windows keeps.
// Threads: any. Errors: none; a time outside what the other side can hold is clamped.

#include <cstdint>
#include <sys/types.h>

#include "platform/win32/Wide.h"

constexpr std::int64_t kFileTimeTicksPerSecond = 10000000;  // a FILETIME counts 100 ns
constexpr std::int64_t kFileTimeEpochSeconds = 11644473600;  // from 1601 to 1970

// Nanoseconds since the epoch; 0 for a time before it.
std::uint64_t NanosecondsOfFileTime(std::int64_t fileTime);

// 0444 for a read-only file, 0666 for another, 0777 for a directory.
mode_t ModeOfAttributes(DWORD attributes);
// The attributes with read-only set or cleared by the owner's write bit.
DWORD AttributesWithMode(DWORD attributes, mode_t mode);
