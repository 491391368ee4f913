#include "download/BlockPipeline.h"

#include <algorithm>
#include <new>
#include <utility>

#include "platform/File.h"

namespace {

constexpr std::align_val_t kAlignment{CFile::kDirectAlignment};

}  // namespace

void CBlockPipeline::AlignedFree::operator()(char* p) const
{
    ::operator delete[](p, kAlignment);
}

CBlockPipeline::CBlockPipeline(std::size_t nBlockSize) : m_nBlockSize(nBlockSize)
{
    for (Block& block : m_blocks)
        block.data.reset(static_cast<char*>(::operator new[](nBlockSize, kAlignment)));
    for (std::size_t stage = 0; stage < kStages; ++stage)
        m_threads[stage] = std::thread([this, stage] { RunStage(stage); });
}

CBlockPipeline::~CBlockPipeline()
{
    Drain();
    {
        std::lock_guard lock(m_mutex);
        m_bStopping = true;
    }
    m_changed.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

char* CBlockPipeline::Buffer()
{
    std::unique_lock lock(m_mutex);
    // The block handed over kBlocks ago uses this buffer: both stages must be past it.
    m_changed.wait(lock, [this] { return *std::min_element(m_nDone.begin(), m_nDone.end()) + kBlocks > m_nSubmitted; });
    return m_blocks[m_nSubmitted % kBlocks].data.get();
}

void CBlockPipeline::Submit(std::size_t used, Stage write, Stage digest)
{
    {
        std::unique_lock lock(m_mutex);
        RethrowFailure();
        Block& block = m_blocks[m_nSubmitted % kBlocks];
        block.used = used;
        block.stages = {std::move(write), std::move(digest)};
        ++m_nSubmitted;
    }
    m_changed.notify_all();
}

bool CBlockPipeline::AllDone() const
{
    return std::all_of(m_nDone.begin(), m_nDone.end(), [this](std::uint64_t done) { return done == m_nSubmitted; });
}

void CBlockPipeline::Flush()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return AllDone(); });
    RethrowFailure();
}

void CBlockPipeline::Drain() noexcept
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return AllDone(); });
    m_failure = nullptr;
}

void CBlockPipeline::RethrowFailure()
{
    if (std::exception_ptr failure = std::exchange(m_failure, nullptr))
        std::rethrow_exception(failure);
}

void CBlockPipeline::RunStage(std::size_t stage)
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this, stage] { return m_nDone[stage] < m_nSubmitted || m_bStopping; });
        if (m_nDone[stage] == m_nSubmitted)
            return;  // stopping, with nothing left
        // The block stays as it is until this stage is done: the receiving thread waits for that.
        Block& block = m_blocks[m_nDone[stage] % kBlocks];
        Stage work = std::move(block.stages[stage]);
        const bool failedBefore = m_failure != nullptr;
        lock.unlock();
        std::exception_ptr failure;
        if (!failedBefore) {
            try {
                work(block.data.get(), block.used);
            } catch (...) {
                failure = std::current_exception();
            }
        }
        lock.lock();
        if (failure && !m_failure)
            m_failure = failure;
        ++m_nDone[stage];
        m_changed.notify_all();
    }
}
