#include "app/ConsoleProgress.h"

#include <cstdio>

#include "platform/Terminal.h"
#include "sentences/Sentences.h"

namespace {

constexpr const char* kUpToDateLine = "The installation is up to date.";

}  // namespace

std::string ProgressLine(const std::string& file, std::uint64_t fileDone, std::uint64_t fileSize,
                         std::uint64_t totalDone, std::uint64_t totalSize)
{
    std::string line = file + "  " + sentence::ReadableSize(fileDone);
    if (fileSize > 0)
        line += " of " + sentence::ReadableSize(fileSize);
    if (totalSize > 0) {
        const std::uint64_t percent = totalDone >= totalSize ? 100 : totalDone * 100 / totalSize;
        line += "  (update: " + std::to_string(percent) + "%)";
    }
    return line;
}

CConsoleProgress::CConsoleProgress() : m_bTerminal(StandardErrorIsTerminal()) {}

void CConsoleProgress::ShowProgress(const UpdateProgress& progress)
{
    Update(progress.lpszFile, progress.nFileDone, progress.nFileSize, progress.nTotalDone, progress.nTotalSize);
}

void CConsoleProgress::Update(const std::string& file, std::uint64_t fileDone, std::uint64_t fileSize,
                              std::uint64_t totalDone, std::uint64_t totalSize)
{
    m_strPending = ProgressLine(file, fileDone, fileSize, totalDone, totalSize);
    const auto interval = m_bTerminal ? std::chrono::milliseconds(100) : std::chrono::milliseconds(500);
    const bool last = fileSize > 0 && fileDone >= fileSize;
    if (last || std::chrono::steady_clock::now() - m_lastWrite >= interval)
        WritePending();
}

void CConsoleProgress::Finish()
{
    if (!m_strPending.empty())
        WritePending();
    if (m_bLineOpen)
        std::fputc('\n', stderr);
    m_bLineOpen = false;
    std::fflush(stderr);
}

void CConsoleProgress::UpToDate()
{
    Finish();
    std::fprintf(stderr, "%s\n", kUpToDateLine);
    std::fflush(stderr);
}

void CConsoleProgress::WritePending()
{
    if (m_strPending != m_strWritten) {
        std::fprintf(stderr, "%s%s%s", m_bTerminal ? "\r\033[K" : "", m_strPending.c_str(), m_bTerminal ? "" : "\n");
        std::fflush(stderr);
        m_strWritten = m_strPending;
        m_lastWrite = std::chrono::steady_clock::now();
        m_bLineOpen = m_bTerminal;
    }
    m_strPending.clear();
}
