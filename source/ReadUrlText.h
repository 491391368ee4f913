#pragma once
// Reading a document's body whole over the run's session: the manifest, or a signature. Threads:
// the caller's. Errors: come back as how the reading ended (below); the cause goes to the log.

#include <cstddef>
#include <optional>
#include <string>

#include "policy/Policy.h"

class CInternetSession;
struct RetryPolicy;

// How reading a document ended.
enum class TextEnd {
    Whole,        // the body was read to its end, whatever the HTTP status
    Unreachable,  // the URL cannot be opened: no connection, unknown host, refused
    TooLarge,     // the body goes on beyond its limit; the text is then empty
    CutShort,     // a failed read (a broken connection, a server too slow, the deadline) ended the
                  // text where it failed
};

struct UrlText {
    TextEnd end = TextEnd::Whole;
    int nStatus = 0;  // the HTTP status, once there was an answer
    std::string strText;
};

// Reads the body of the URL, up to kManifestLimit. The session is the caller's (the run's, from
// OpenUpdateSession): the next request reuses its connection. With a retry policy, a passing
// failure (no connection, a body cut short, a 5xx, 408 or 429 answer) is tried again as a
// file's download would be; the result is the last try's.
UrlText ReadUrlText(const std::string& strUrl, CInternetSession& session, const RetryPolicy* pRetries = nullptr);

// The signature that belongs to the file at the URL (the URL followed by ".minisig"), read whole;
// nothing when the server has none (an error status), cannot be asked, or sends something too
// large to be one.
std::optional<std::string> ReadSignatureText(const std::string& strFileUrl, CInternetSession& session,
                                             const RetryPolicy* pRetries = nullptr);
