#pragma once
// Reading a document's body whole over the run's session: the manifest, or a signature. Threads:
// the caller's. Errors: come back as a number (below), the cause goes to the log.

#include <cstddef>
#include <optional>
#include <string>

#include "policy/Policy.h"

class CInternetSession;
struct RetryPolicy;

// ReadUrlText's results for a body beyond kManifestLimit, and for one that a failure (a broken
// connection, a server too slow, the deadline) cut short.
inline constexpr int kTextTooLarge = 413;
inline constexpr int kTextCutShort = 408;

// Reads the body of the URL into strText, whatever the HTTP status. Returns 0, 493 when the URL
// cannot be opened (no connection, unknown host, refused), kTextTooLarge when the body goes on beyond kManifestLimit (the text is then empty),
// kTextCutShort when a failed read ended the text where it failed (the cause is logged).
// The session is the caller's (the run's, from OpenUpdateSession): the next request reuses its
// connection.
// The HTTP status code goes to *pStatus when asked for. With a retry policy, a passing
// failure (no connection, a body cut short, a 5xx, 408 or 429 answer) is tried again as a
// file's download would be; the result is the last try's.
int ReadUrlText(const std::string& strUrl, std::string& strText, CInternetSession& session,
                int* pStatus = nullptr, const RetryPolicy* pRetries = nullptr);

// The signature that belongs to the file at the URL (the URL followed by ".minisig"), read whole;
// nothing when the server has none (an error status), cannot be asked, or sends something too
// large to be one.
std::optional<std::string> ReadSignatureText(const std::string& strFileUrl, CInternetSession& session,
                                             const RetryPolicy* pRetries = nullptr);
