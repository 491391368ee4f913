#include "run/RunPhase.h"

#include <algorithm>

const char* NameOf(RunPhase phase)
{
    switch (phase) {
    case RunPhase::kStarting: return "starting";
    case RunPhase::kChoosingSource: return "choosing the source";
    case RunPhase::kChecking: return "checking";
    case RunPhase::kDownloading: return "downloading";
    case RunPhase::kInstalling: return "installing";
    case RunPhase::kDone: return "done";
    case RunPhase::kFailed: return "failed";
    case RunPhase::kCancelled: return "cancelled";
    }
    return "?";
}

RunPhases::RunPhases(Clock::time_point start) : m_entered(start)
{
    m_went[0] = true;
}

void RunPhases::Enter(RunPhase phase, Clock::time_point now)
{
    const RunPhase current = m_phase;
    if (phase <= current || current >= RunPhase::kDone)
        return;
    const auto index = [](RunPhase p) { return static_cast<std::size_t>(p); };
    m_spent[index(current)] = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_entered);
    m_entered = now;
    m_went[index(phase)] = true;
    m_phase = phase;
}

std::string RunPhases::Durations(Clock::time_point now) const
{
    std::string text;
    const std::size_t current = static_cast<std::size_t>(m_phase.load());
    // The ends take no time of their own: the last phase counted is the one the run ended in.
    const std::size_t last = std::min(current, static_cast<std::size_t>(RunPhase::kInstalling));
    for (std::size_t i = 0; i <= last; ++i) {
        if (!m_went[i])
            continue;
        const auto spent = i == current ? std::chrono::duration_cast<std::chrono::milliseconds>(now - m_entered) : m_spent[i];
        text += (text.empty() ? "" : ", ") + std::string(NameOf(static_cast<RunPhase>(i))) + " " +
                std::to_string(spent.count()) + " ms";
    }
    return text;
}
