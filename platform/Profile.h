#pragma once
// Private-profile reads of an INI file, with the results GetPrivateProfileString gives:
// section and key compared without regard to letter case, the value trimmed of blanks and of
// one pair of enclosing quotes, the first of duplicate keys wins, and a missing file, section or
// key gives the default. Values come as UTF-8: a file that is valid UTF-8 (or starts with its byte
// order mark) is read as UTF-8, any other as GBK, the Chinese Windows code page the lobby writes in.

#include <string>

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& fileName);
