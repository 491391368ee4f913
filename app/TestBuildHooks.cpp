// The tests' build of the program: the hooks the tests set in its environment. Linked into that
// build alone (see app/CMakeLists.txt); the program players run has ShippedHooks.cpp instead.

#include <cstdlib>

#include "app/TestHooks.h"

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

TestHooks ThisBuildsTestHooks()
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

