#pragma once
// What the tests of the whole program set in its environment to shorten its waits or to stop it
// at a chosen point. Read once at start-up, with the settings, and passed down to what uses them:
// nothing below the app reads the environment. A player's environment sets none of them.
//
// Threads: any. Errors: a value that is not a positive number counts as not set.

#include <chrono>
#include <memory>
#include <optional>

#include "install/InstallFiles.h"

struct TestHooks {
    // KESU_TEST_KILL_AFTER_MOVES=N: the program is killed right after the Nth move it makes of an
    // installation (or of the next start's finishing of one), as a power cut would end it.
    long nKillAfterMoves = 0;
};

TestHooks TestHooksFromEnvironment();

// The installation's file operations for a run with these hooks: the system's, or ones that
// end the process after the chosen move; nothing for the system's own.
std::unique_ptr<CFaultyInstallFiles> InstallFilesFor(const TestHooks& hooks);
