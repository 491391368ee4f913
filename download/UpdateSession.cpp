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
    return policy;
}

std::unique_ptr<CInternetSession> OpenUpdateSession(const CInternetSession::Limits& limits)
{
    auto session = std::make_unique<CInternetSession>("KesuUpdate");
    session->SetLimits(limits);
    return session;
}
