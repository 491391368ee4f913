#include "app/TestHooks.h"

#include <algorithm>

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
