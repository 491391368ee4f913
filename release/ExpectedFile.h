#pragma once
// What a release says a file is: its size, its digests, the permission bits it is installed
// with, and a patch that makes it from an earlier version. The manifest's reader fills it in, the
// download checks what arrived against it and the installation gives the file its mode. Plain
// values: no threads, no errors.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>
#include <string>

// A patch that makes the file from the installed copy, which is the earlier version it was made
// from: downloaded (and verified) instead of the file, then applied.
struct tagPatchSource {
    std::string strName;  // below the base URL
    std::uint64_t nSize = 0;
    std::string strMd5;
    std::string strSha256;  // empty when the manifest gives none
};

// What the publisher says a file is: a downloaded file that is not exactly this is never installed.
struct tagExpectedFile {
    std::uint64_t nSize = 0;
    std::string strMd5;     // as the manifest has it; compared as a digest (case and blanks aside)
    std::string strSha256;  // empty when the manifest gives none
    std::optional<unsigned> nMode;  // the permission bits (within 0777) the installed file gets
    std::optional<tagPatchSource> patch = {};  // how it may be made from the installed copy
};

// A digest as the manifest writes it, made comparable: blanks around it dropped, lower case.
inline std::string NormalizedDigest(const std::string& strDigest)
{
    const auto first = strDigest.find_first_not_of(" \t\r\n");
    const auto last = strDigest.find_last_not_of(" \t\r\n");
    std::string digest = first == std::string::npos ? std::string() : strDigest.substr(first, last - first + 1);
    std::transform(digest.begin(), digest.end(), digest.begin(), [](unsigned char c) { return std::tolower(c); });
    return digest;
}
