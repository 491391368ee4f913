#include "download/UpdateSession.h"

#include <algorithm>

namespace {

// A manifest or a signature arrives whole within this time, however slowly it drips.
constexpr std::chrono::seconds kDocumentDeadline{600};

}  // namespace

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
    policy.retryAfterLimit = std::min<std::chrono::milliseconds>(policy.retryAfterLimit, std::chrono::seconds(5));
    return policy;
}

std::unique_ptr<CInternetSession> OpenUpdateSession(const CInternetSession::Limits& limits)
{
    auto session = std::make_unique<CInternetSession>("KesuUpdate");
    session->SetLimits(limits);
    return session;
}
