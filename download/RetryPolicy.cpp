#include "download/RetryPolicy.h"

#include <algorithm>
#include <thread>

#include "platform/Log.h"

bool IsPassingStatus(int status)
{
    return status == 408 || status == 429 || status >= 500;
}

std::chrono::milliseconds PauseBeforeRetry(const RetryPolicy& policy, unsigned nRetry,
                                           std::optional<std::chrono::seconds> retryAfter)
{
    std::chrono::milliseconds pause = policy.pauses.at(nRetry);
    if (retryAfter)
        pause = std::max(pause, std::min<std::chrono::milliseconds>(*retryAfter, policy.retryAfterLimit));
    return pause;
}

TryOutcome FailedBeforeDownloads(const CInternetException& e, const std::string& strCause)
{
    return {.bPassing = e.IsTransient() && !e.IsTimeout(), .strCause = strCause, .bConnectionLost = e.IsConnectionLost()};
}

namespace {

// Waits out the pause; false, at once, when the stop flag is set first.
bool PauseUnlessStopped(std::chrono::milliseconds pause, const std::atomic<bool>* pStop)
{
    constexpr std::chrono::milliseconds kLook{50};
    for (auto left = pause; !(pStop && *pStop); left -= kLook) {
        if (left <= kLook) {
            std::this_thread::sleep_for(left);
            return !(pStop && *pStop);
        }
        std::this_thread::sleep_for(kLook);
    }
    return false;
}

}  // namespace

void RetryWhilePassing(const std::string& strUrl, const RetryPolicy* pPolicy, const std::atomic<bool>* pStop,
                       const std::function<TryOutcome()>& tryOnce)
{
    for (unsigned retries = 0, lostConnections = 0;; ++retries) {
        const TryOutcome outcome = tryOnce();
        if (!outcome.bPassing || !pPolicy || retries >= pPolicy->pauses.size())
            return;
        std::chrono::milliseconds pause = PauseBeforeRetry(*pPolicy, retries, outcome.retryAfter);
        if (outcome.bConnectionLost) {
            if (lostConnections++ >= pPolicy->nLostConnectionRetries)
                return;
            pause = std::min(pause, pPolicy->longestLostConnectionPause);
        }
        LogNote("GET " + strUrl + ": " + outcome.strCause + "; try " + std::to_string(retries + 2) + " in " +
                std::to_string(pause.count()) + " ms");
        if (!PauseUnlessStopped(pause, pStop))
            return;
    }
}
