#include "app/TestHooks.h"

#include <algorithm>
#include <cstdlib>

namespace {

std::optional<long> PositiveFromEnvironment(const char* name)
{
    if (const char* text = std::getenv(name))
        if (long value = std::atol(text); value > 0)
            return value;
    return std::nullopt;
}

template <class Duration>
std::optional<Duration> DurationFromEnvironment(const char* name)
{
    if (std::optional<long> count = PositiveFromEnvironment(name))
        return Duration(*count);
    return std::nullopt;
}

}  // namespace

TestHooks TestHooksFromEnvironment()
{
    TestHooks hooks;
    hooks.nKillAfterMoves = PositiveFromEnvironment("KESU_TEST_KILL_AFTER_MOVES").value_or(0);
    hooks.stall = DurationFromEnvironment<std::chrono::seconds>("KESU_TEST_STALL_SECONDS");
    hooks.deadline = DurationFromEnvironment<std::chrono::seconds>("KESU_TEST_DEADLINE_SECONDS");
    // A pause of 0 ms is a setting of its own: no pause at all.
    if (const char* text = std::getenv("KESU_TEST_RETRY_PAUSE_MS"))
        hooks.retryPause = std::chrono::milliseconds(std::atoi(text));
    return hooks;
}

CInternetSession::Limits SessionLimitsFor(const TestHooks& hooks)
{
    CInternetSession::Limits limits = UpdateSessionLimits();
    limits.stallTimeout = hooks.stall.value_or(limits.stallTimeout);
    limits.deadline = hooks.deadline.value_or(limits.deadline);
    return limits;
}

RetryPolicy RetriesFor(const TestHooks& hooks)
{
    RetryPolicy policy = UpdateRetries();
    if (hooks.retryPause) {
        std::fill(policy.pauses.begin(), policy.pauses.end(), *hooks.retryPause);
        policy.retryAfterLimit = *hooks.retryPause;
    }
    return policy;
}

std::unique_ptr<CFaultyInstallFiles> InstallFilesFor(const TestHooks& hooks)
{
    if (hooks.nKillAfterMoves <= 0)
        return nullptr;
    return std::make_unique<CFaultyInstallFiles>(CFaultyInstallFiles::Call::Move, hooks.nKillAfterMoves,
                                                 CFaultyInstallFiles::Fault::kKillAfter);
}
