#include "download/UpdateSession.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

namespace {

// A manifest or a signature arrives whole within this time, however slowly it drips.
constexpr std::chrono::seconds kDocumentDeadline{600};

std::optional<int> SecondsFromEnvironment(const char* name)
{
    if (const char* seconds = std::getenv(name))
        if (int value = std::atoi(seconds); value > 0)
            return value;
    return std::nullopt;
}

// The session's own limits. Test-only: the fault tests set KESU_TEST_STALL_SECONDS and
// KESU_TEST_DEADLINE_SECONDS so that a server that never answers, drips or never ends fails a
// run of the program in seconds rather than in minutes.
CInternetSession::Limits RunLimits()
{
    CInternetSession::Limits limits;
    if (auto seconds = SecondsFromEnvironment("KESU_TEST_STALL_SECONDS"))
        limits.stallTimeout = std::chrono::seconds(*seconds);
    limits.deadline = kDocumentDeadline;
    if (auto seconds = SecondsFromEnvironment("KESU_TEST_DEADLINE_SECONDS"))
        limits.deadline = std::chrono::seconds(*seconds);
    return limits;
}

}  // namespace

RetryPolicy UpdateRetries()
{
    RetryPolicy policy;
    // Test-only: KESU_TEST_RETRY_PAUSE_MS makes every pause that long, so that a run of the
    // program through a failing server ends in seconds.
    if (const char* text = std::getenv("KESU_TEST_RETRY_PAUSE_MS")) {
        const std::chrono::milliseconds pause(std::atoi(text));
        std::fill(policy.pauses.begin(), policy.pauses.end(), pause);
        policy.retryAfterLimit = pause;
    }
    return policy;
}

RetryPolicy StartRetries()
{
    RetryPolicy policy = UpdateRetries();
    policy.retryAfterLimit = std::min<std::chrono::milliseconds>(policy.retryAfterLimit, std::chrono::seconds(5));
    return policy;
}

std::unique_ptr<CInternetSession> OpenUpdateSession()
{
    auto session = std::make_unique<CInternetSession>("KesuUpdate");
    session->SetLimits(RunLimits());
    return session;
}
