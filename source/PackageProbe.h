#pragma once
// Asking a server about the package before it is downloaded: whether it has one (its headers
// alone, a HEAD, or a GET whose body is dropped for a server that does not know HEAD), and what
// the package unpacks to (its central directory, from a range request for its end).
//
// Threads: the caller's. Errors: a server that cannot be asked counts as having no package; the
// particulars go to the log.

#include <cstdint>
#include <optional>
#include <string>

class CInternetSession;
struct RetryPolicy;

// What a server answered when asked for the package.
enum class ProbeAnswer {
    kPackage,   // it has the package
    kNotFound,  // it has none (404), or cannot be asked
    kFailing,   // an error status even after the tries: it may have the package, or may not
};

struct PackageProbe {
    ProbeAnswer answer = ProbeAnswer::kNotFound;
    std::optional<std::uint64_t> length;  // the package's, when the server told it
};

// Asks for the package at strUrl, again after a passing failure as the policy says. Without a
// session (the run could not open one) it cannot be asked.
PackageProbe ProbePackage(const std::string& strUrl, CInternetSession* pSession, const RetryPolicy* pRetries);

// What the package of the given length unpacks to, from its central directory, asked for by
// itself before the package; nothing when the server sends no such part or the directory is larger.
std::optional<std::uint64_t> PackageUnpackedSize(CInternetSession* pSession, const std::string& strUrl,
                                                 std::optional<std::uint64_t> length);
