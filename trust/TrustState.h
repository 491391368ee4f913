#pragma once
// The installation's record of the newest signature timestamp accepted for each signed file
// name, so that a server cannot hand out an older signed manifest or package again.
//
// One line per name, "<timestamp>\t<name>", after a first line that says what the file is. The
// file is replaced atomically: a reader sees the old record or the new one, never a mix.

#include <cstdint>
#include <map>
#include <string>

using AcceptedTimestamps = std::map<std::string, std::uint64_t>;

// The record; empty when the file is missing, unreadable or damaged in any way.
AcceptedTimestamps ReadAcceptedTimestamps(const std::string& strPath);
// Writes a new file beside the record (never through a link planted at any name) and renames it
// over the record. False, with errno set, when that fails.
bool WriteAcceptedTimestamps(const std::string& strPath, const AcceptedTimestamps& timestamps);
