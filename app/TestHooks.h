#pragma once
// What the tests of the whole program set in its environment to shorten its waits or to stop it
// at a chosen point. Only the tests' build of the program reads them (ThisBuildsTestHooks): the
// program players run has none, whatever its environment says, so no environment can stop a
// player's update. They come in at start-up, with the settings, and are passed down to what uses
// them: nothing below the app reads the environment.
//
// Threads: any. Errors: a value that is not a positive number counts as not set.

#include <chrono>
#include <memory>
#include <optional>

#include "download/UpdateSession.h"
#include "install/InstallFiles.h"

struct TestHooks {
    // KESU_TEST_KILL_AFTER_MOVES=N: the program is killed right after the Nth move it makes of an
    // installation (or of the next start's finishing of one), as a power cut would end it.
    long nKillAfterMoves = 0;
    // KESU_TEST_STALL_SECONDS and KESU_TEST_DEADLINE_SECONDS: a server that never answers, drips
    // or never ends fails a run in seconds rather than in minutes.
    std::optional<std::chrono::seconds> stall;
    std::optional<std::chrono::seconds> deadline;
    // KESU_TEST_RETRY_PAUSE_MS: every pause before a retry is that long, and so is the longest
    // Retry-After heeded, so that a run through a failing server ends in seconds.
    std::optional<std::chrono::milliseconds> retryPause;
};

// Defined once a program: empty in the program players run (app/ShippedHooks.cpp), read from the
// environment in the tests' build of it (app/TestBuildHooks.cpp). Each executable links one.
TestHooks ThisBuildsTestHooks();

// The run's session limits and download retries with the hooks' in place of the program's own.
CInternetSession::Limits SessionLimitsFor(const TestHooks& hooks);
RetryPolicy RetriesFor(const TestHooks& hooks);

// The installation's file operations for a run with these hooks: the system's, or ones that
// end the process after the chosen move; nothing for the system's own.
std::unique_ptr<CFaultyInstallFiles> InstallFilesFor(const TestHooks& hooks);
