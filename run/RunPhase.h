#pragma once
// Where an update run stands, as one value: the phases in the order a run goes through them, then
// how it ended. The run's own thread moves it on; any thread may read it (a close asks whether the
// installation has begun). Each phase's time is kept for the log.

#include <array>
#include <atomic>
#include <chrono>
#include <string>

enum class RunPhase {
    kStarting,        // the directories, the log, an installation a killed run left
    kChoosingSource,  // the package probe or the manifest, from one server after another
    kChecking,        // the installed files read against the manifest
    kDownloading,
    kInstalling,
    kDone,  // handed back to the lobby
    kFailed,
    kCancelled,  // by the player or by the window's close
};

const char* NameOf(RunPhase phase);

class RunPhases {
public:
    using Clock = std::chrono::steady_clock;

    explicit RunPhases(Clock::time_point start = Clock::now());

    RunPhase Current() const { return m_phase; }
    // The clock starts again: the run's steps begin now (what came before, the wait for another
    // updater and the window's making, is no phase of the run's).
    void Restart(Clock::time_point now = Clock::now()) { m_entered = now; }
    // Whether the run went through the phase (a package run, say, goes through no check). On the
    // run's own thread, which alone moves the phases on.
    bool Reached(RunPhase phase) const { return m_went[static_cast<std::size_t>(phase)]; }
    // The run moves on; a phase is never entered twice, nor an earlier one after a later one, and
    // the first end is the run's.
    void Enter(RunPhase phase, Clock::time_point now = Clock::now());
    // "starting 3 ms, choosing the source 120 ms, ..." for each phase the run went through, up to
    // the one it is in.
    std::string Durations(Clock::time_point now = Clock::now()) const;

private:
    static constexpr std::size_t kPhases = static_cast<std::size_t>(RunPhase::kCancelled) + 1;

    std::atomic<RunPhase> m_phase{RunPhase::kStarting};
    Clock::time_point m_entered;  // of the phase it is in
    std::array<std::chrono::milliseconds, kPhases> m_spent{};
    std::array<bool, kPhases> m_went{};  // the phases gone through
};
