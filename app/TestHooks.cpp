#include "app/TestHooks.h"

#include <cstdlib>

namespace {

std::optional<long> PositiveFromEnvironment(const char* name)
{
    if (const char* text = std::getenv(name))
        if (long value = std::atol(text); value > 0)
            return value;
    return std::nullopt;
}

}  // namespace

TestHooks TestHooksFromEnvironment()
{
    TestHooks hooks;
    hooks.nKillAfterMoves = PositiveFromEnvironment("KESU_TEST_KILL_AFTER_MOVES").value_or(0);
    return hooks;
}

std::unique_ptr<CFaultyInstallFiles> InstallFilesFor(const TestHooks& hooks)
{
    if (hooks.nKillAfterMoves <= 0)
        return nullptr;
    return std::make_unique<CFaultyInstallFiles>(CFaultyInstallFiles::Call::Move, hooks.nKillAfterMoves,
                                                 CFaultyInstallFiles::Fault::kKillAfter);
}
