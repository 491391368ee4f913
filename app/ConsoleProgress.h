#pragma once
// The download's progress on standard error, for runs without a display: the file's name, how
// much of it has arrived, and how far the whole update has come, as in
//     data\map\town.dat  23.4 KB of 292.9 KB  (update: 45%)
// On a terminal the line is redrawn in place; elsewhere (a pipe, a file) a line is written at
// most twice a second, and each file's last line always, once.

#include <chrono>
#include <cstdint>
#include <string>

#include "run/UpdateView.h"

class CConsoleProgress : public IUpdateView {
public:
    CConsoleProgress();

    void ShowProgress(const UpdateProgress& progress) override;
    void ShowFileDone() override { Finish(); }
    void ShowInstalling() override { Finish(); }
    void ShowUpToDate() override { UpToDate(); }
    void Close() override { Finish(); }

    // `fileDone` of the file's `fileSize` bytes have arrived (a size of 0: none was announced),
    // and `totalDone` of the update's `totalSize`.
    void Update(const std::string& file, std::uint64_t fileDone, std::uint64_t fileSize, std::uint64_t totalDone,
                std::uint64_t totalSize);
    // The file ended, or the download did: its latest line is written if it was not yet, and a
    // line on a terminal is ended.
    void Finish();
    // The run found nothing to download.
    void UpToDate();

private:
    // Writes the latest line, unless it is the one written last.
    void WritePending();

    bool m_bTerminal;
    bool m_bLineOpen = false;
    std::string m_strPending;  // the latest line, until it is written
    std::string m_strWritten;  // the last line written: the same text is never written twice
    std::chrono::steady_clock::time_point m_lastWrite{};
};

// One progress line, without its end.
std::string ProgressLine(const std::string& file, std::uint64_t fileDone, std::uint64_t fileSize,
                         std::uint64_t totalDone, std::uint64_t totalSize);
