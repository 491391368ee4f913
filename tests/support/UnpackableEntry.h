#pragma once
// What a package check's failure (FindUnpackableEntry) says about the entry, taken apart again:
// its cause for the log is "NAME of the package cannot be unpacked: WHY", so that a line of the
// log names the entry as the player's sentence does. The tests ask for the name and the why
// apart.

#include <string>

#include "sentences/Failure.h"

inline constexpr const char* kCannotBeUnpacked = " of the package cannot be unpacked: ";

// The entry the failure names; empty when its cause is not worded as a package check's.
inline std::string UnpackableEntry(const Failure& failure)
{
    const std::size_t end = failure.strCause.find(kCannotBeUnpacked);
    return end == std::string::npos ? std::string() : failure.strCause.substr(0, end);
}

// Why that entry cannot be unpacked; the whole cause when it is not worded as a package check's.
inline std::string UnpackableCause(const Failure& failure)
{
    const std::size_t end = failure.strCause.find(kCannotBeUnpacked);
    return end == std::string::npos ? failure.strCause
                                    : failure.strCause.substr(end + std::string(kCannotBeUnpacked).size());
}
