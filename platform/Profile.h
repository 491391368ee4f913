#pragma once
// Private-profile reads of an INI file, with the results GetPrivateProfileString gives:
// section and key compared without regard to letter case, the value trimmed of blanks and of
// one pair of enclosing quotes, the first of duplicate keys wins, and a missing file, section or
// key gives the default.

#include <string>

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& fileName);
