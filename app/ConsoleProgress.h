#pragma once
// The download's progress on standard error, for runs without a display: the file, its KB done
// of its KB, and the whole download's percentage. On a terminal the line is redrawn in place;
// elsewhere a line is written at most twice a second.

#include <chrono>
#include <cstdint>
#include <string>

class CConsoleProgress {
public:
    CConsoleProgress();
    void Update(const std::string& file, std::uint32_t fileDoneKB, std::uint32_t fileSizeKB, std::uint32_t totalDoneKB,
                std::uint32_t totalSizeKB);
    // Ends the line in progress, if any.
    void Finish();

private:
    bool m_bTerminal;
    bool m_bLineOpen = false;
    std::chrono::steady_clock::time_point m_lastWrite{};
};
