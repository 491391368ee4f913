#include "download/UpdateSession.h"

#include <algorithm>

#include "policy/Policy.h"

CInternetSession::Limits UpdateSessionLimits()
{
    CInternetSession::Limits limits;
    limits.deadline = kDocumentDeadline;
    return limits;
}

RetryPolicy UpdateRetries()
{
    return {};
}

RetryPolicy StartRetries(const RetryPolicy& downloads)
{
    RetryPolicy policy = downloads;
    policy.retryAfterLimit = std::min(policy.retryAfterLimit, kLongestRetryAfterAtStart);
    policy.nLostConnectionRetries = std::min(policy.nLostConnectionRetries, kLostConnectionRetriesAtStart);
    policy.longestLostConnectionPause = std::min(policy.longestLostConnectionPause, kLongestLostConnectionPauseAtStart);
    return policy;
}

CInternetSession::Settings UpdateSessionSettings()
{
    return {.strAgent = "KesuUpdate", .limits = UpdateSessionLimits()};
}

std::unique_ptr<CInternetSession> OpenUpdateSession(const CInternetSession::Settings& settings)
{
    return std::make_unique<CInternetSession>(settings);
}
