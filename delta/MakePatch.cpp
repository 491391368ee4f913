#include "delta/MakePatch.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <stdexcept>
#include <zstd.h>

#include "delta/ApplyPatch.h"

namespace {

// From this size on, matches lie too far apart for the regular search: long-distance matching
// finds them.
constexpr std::size_t kLongDistanceFrom = 16u << 20;
// zstd's smallest window (1 KiB).
constexpr int kSmallestWindowLog = 10;

struct EncodingContext {
    ZSTD_CCtx* cctx = ZSTD_createCCtx();
    ~EncodingContext() { ZSTD_freeCCtx(cctx); }
};

void Check(std::size_t result)
{
    if (ZSTD_isError(result))
        throw std::runtime_error(std::string("zstd: ") + ZSTD_getErrorName(result));
}

// A window that reaches from the end of the new file back to the start of the old one.
int WindowLog(std::size_t oldSize, std::size_t newSize)
{
    const std::uint64_t span = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(oldSize) + newSize);
    const int log = static_cast<int>(std::bit_width(span - 1));
    return std::clamp(log, kSmallestWindowLog, kPatchWindowLogMax);
}

}  // namespace

std::string MakePatch(std::string_view old, std::string_view current, int nLevel)
{
    EncodingContext context;
    if (!context.cctx)
        throw std::runtime_error("zstd: no memory for a compression context");
    ZSTD_CCtx* cctx = context.cctx;
    Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, nLevel));
    Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog, WindowLog(old.size(), current.size())));
    Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, 1));
    Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_contentSizeFlag, 1));
    if (std::max(old.size(), current.size()) >= kLongDistanceFrom)
        Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_enableLongDistanceMatching, 1));
    Check(ZSTD_CCtx_refPrefix(cctx, old.data(), old.size()));
    std::string patch(ZSTD_compressBound(current.size()), '\0');
    const std::size_t size = ZSTD_compress2(cctx, patch.data(), patch.size(), current.data(), current.size());
    Check(size);
    patch.resize(size);
    return patch;
}
