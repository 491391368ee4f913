#pragma once
// How a request that meets a passing failure (no connection, a connection broken off, a stall, a
// body cut short, a 5xx, 408 or 429 answer) is tried again: the manifest, its signature and the
// package's probe as well as every file.

#include <atomic>
#include <chrono>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "platform/Internet.h"
#include "policy/Policy.h"

struct RetryPolicy {
    // The pauses before the second, third, ... try: as many tries again as pauses.
    std::vector<std::chrono::milliseconds> pauses{std::begin(kRetryPauses), std::end(kRetryPauses)};
    // A server's Retry-After lengthens a pause up to this.
    std::chrono::milliseconds retryAfterLimit = kLongestRetryAfter;
    // A try whose connection was refused or lost before an answer is tried again this often at
    // most, after a pause no longer than this.
    unsigned nLostConnectionRetries = std::numeric_limits<unsigned>::max();
    std::chrono::milliseconds longestLostConnectionPause = std::chrono::milliseconds::max();
};

// An overloaded or failing server may answer otherwise in a moment.
bool IsPassingStatus(int status);

// The pause before try nRetry + 2: the policy's, lengthened by the server's Retry-After.
std::chrono::milliseconds PauseBeforeRetry(const RetryPolicy& policy, unsigned nRetry,
                                           std::optional<std::chrono::seconds> retryAfter);

// What one try of a request came to.
struct TryOutcome {
    bool bPassing = false;  // another try may meet something else
    std::string strCause;   // for the log
    std::optional<std::chrono::seconds> retryAfter{};
    bool bConnectionLost = false;  // no answer came: the connection was refused, reset or closed
};

// A request before the downloads that failed: another try when the failure is passing, but not
// after a time-out (a connection never made, a stall, a document's deadline), which another try
// would wait out again while nothing can cancel it; a connection refused or reset is one lost.
TryOutcome FailedBeforeDownloads(const CInternetException& e, const std::string& strCause);

// Tries the request for strUrl until a try ends without a passing failure or the tries are spent
// (a null policy: one try; a lost connection: as the policy allows those), logging each retry with
// its cause and waiting its pause in between, or until *pStop is set (the request's session's
// cancel flag), which ends a pause within a tenth of a second. For the requests the run makes
// before its downloads.
void RetryWhilePassing(const std::string& strUrl, const RetryPolicy* pPolicy, const std::atomic<bool>* pStop,
                       const std::function<TryOutcome()>& tryOnce);
