#pragma once
// What the worker's two halves share: the run's connections (DownloadWorker.cpp) and one file's
// download (StoreTask.cpp).

#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "download/BackgroundWriter.h"
#include "download/DownloadMgr.h"
#include "platform/File.h"
#include "platform/Internet.h"

namespace download_lane {

inline constexpr std::size_t kBlockSize = 8192;
// Blocks are read one at a time (one progress event each) but written in groups: a write call
// per block costs a third of the throughput. A group is written and hashed on a second thread
// while the next one arrives.
inline constexpr std::size_t kBlocksPerWrite = 32;

// The server answered, but not with the file.
struct NotTheFile {};
// The file arrived whole and is refused: the text says why, in one sentence for the player.
struct Refused {
    std::string strSentence;
};

}  // namespace download_lane

// One connection's share of the run: its session, and the file, buffer and writer of the
// download in hand.
struct CDownloadMgr::Lane {
    CInternetSession* pSession = nullptr;
    std::unique_ptr<CInternetSession> pOwnSession;
    CFile file;
    std::vector<char> buffer = std::vector<char>(download_lane::kBlockSize * download_lane::kBlocksPerWrite);
    CBackgroundWriter writer;
    std::uint64_t nFileSize = 0;  // of the download in hand, as announced
    std::uint64_t nFileDone = 0;  // of its bytes, those counted in the run's total
};
