#pragma once
// The blocks of a download pass two stages, each on a thread of its own, while the receiving
// thread fills the next block: one stage writes them to the file, the other takes their
// digests. On a fast network receiving, writing and hashing then share the cores instead of one
// thread waiting for another: MD5 alone is slower than the network and the page cache together.
//
// Each stage sees every block once and in the order handed over. A block's buffer is filled
// again only when both stages are done with it; the receiving thread waits for that, so a slow
// disk or digest slows the download down instead of filling the memory.
//
// Threads: one thread hands blocks over (Buffer, Submit, Flush, Drain); the stages run on the
// pipeline's own two. Errors: what a stage throws comes back from the next Submit or Flush, once;
// blocks after a failure are passed over.

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class CBlockPipeline {
public:
    using Stage = std::function<void(const char* pData, std::size_t nLength)>;

    explicit CBlockPipeline(std::size_t nBlockSize);
    // Waits for the blocks in hand, then ends the threads.
    ~CBlockPipeline();
    CBlockPipeline(const CBlockPipeline&) = delete;
    CBlockPipeline& operator=(const CBlockPipeline&) = delete;

    std::size_t BlockSize() const { return m_nBlockSize; }
    // The buffer to fill next, BlockSize() long; waits while a stage still needs it.
    char* Buffer();
    // Hands the first `used` bytes of Buffer() to the stages: `write` on the one thread, `digest`
    // on the other. Rethrows what a stage threw since the last call.
    void Submit(std::size_t used, Stage write, Stage digest);
    // Waits until both stages are done with every block; rethrows what one threw.
    void Flush();
    // Waits the same, dropping any failure: for clean-up after one.
    void Drain() noexcept;

private:
    static constexpr std::size_t kBlocks = 4;  // in hand at once: two ahead of the slower stage
    static constexpr std::size_t kStages = 2;

    // A block's memory, aligned for writes that go straight to the disk.
    struct AlignedFree {
        void operator()(char* p) const;
    };
    struct Block {
        std::unique_ptr<char[], AlignedFree> data;
        std::size_t used = 0;
        std::array<Stage, kStages> stages;
    };

    void RunStage(std::size_t stage);
    bool AllDone() const;
    void RethrowFailure();

    const std::size_t m_nBlockSize;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::array<Block, kBlocks> m_blocks;
    std::uint64_t m_nSubmitted = 0;               // blocks handed over
    std::array<std::uint64_t, kStages> m_nDone{};  // blocks each stage is done with
    std::exception_ptr m_failure;                  // the first a stage threw
    bool m_bStopping = false;
    std::array<std::thread, kStages> m_threads;  // last: started once everything they use exists
};
