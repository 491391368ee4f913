#include "app/ConsoleProgress.h"

#include <cstdio>
#include <unistd.h>

CConsoleProgress::CConsoleProgress() : m_bTerminal(::isatty(STDERR_FILENO) == 1) {}

void CConsoleProgress::Update(const std::string& file, std::uint32_t fileDoneKB, std::uint32_t fileSizeKB,
                              std::uint32_t totalDoneKB, std::uint32_t totalSizeKB)
{
    const auto now = std::chrono::steady_clock::now();
    const auto interval = m_bTerminal ? std::chrono::milliseconds(100) : std::chrono::milliseconds(500);
    const bool last = fileSizeKB > 0 && fileDoneKB >= fileSizeKB;
    if (now - m_lastWrite < interval && !last)
        return;
    m_lastWrite = now;
    unsigned percent = totalSizeKB ? static_cast<unsigned>(100ull * totalDoneKB / totalSizeKB) : 0;
    if (percent > 100)
        percent = 100;
    std::fprintf(stderr, "%s%s %u KB / %u KB  %u%%%s", m_bTerminal ? "\r\033[K" : "", file.c_str(), fileDoneKB,
                 fileSizeKB, percent, m_bTerminal ? "" : "\n");
    std::fflush(stderr);
    m_bLineOpen = m_bTerminal;
}

void CConsoleProgress::Finish()
{
    if (m_bLineOpen)
        std::fputc('\n', stderr);
    m_bLineOpen = false;
}
