#include "delta/MakePatch.h"

#include <algorithm>
#include <bit>
#include <stdexcept>
#include <vector>
// For zstd's experimental parameters (stable input, a prefix's bytes the same wherever it lies)
// and a level's parameters. Their numbers may change between zstd's releases; the header and the
// library come from the same package.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

namespace {

// From this size on, matches lie too far apart for the regular search: long-distance matching
// finds them.
constexpr std::size_t kLongDistanceFrom = 16u << 20;
// zstd's smallest window (1 KiB).
constexpr int kSmallestWindowLog = 10;
// The most candidates weighed at each position (a log: 8). A game file's records repeat all
// through it and through its old version, which makes zstd's searches deep at the high levels;
// searching further costs far more time than it saves bytes. 200 MB of records at level 19 made
// a 520 KB patch in 177 s; level 17 cut to this, 582 KB in 46 s; level 12, 637 KB in 5 s.
constexpr unsigned kSearchLogMax = 3;

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
int WindowLog(std::uint64_t oldSize, std::uint64_t newSize)
{
    const std::uint64_t span = std::max<std::uint64_t>(1, oldSize + newSize);
    const int log = static_cast<int>(std::bit_width(span - 1));
    return std::clamp(log, kSmallestWindowLog, kPatchWindowLogMax);
}

void Configure(ZSTD_CCtx* cctx, std::string_view old, std::string_view current, const PatchSettings& settings)
{
    Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, settings.level));
    const ZSTD_compressionParameters level = ZSTD_getCParams(settings.level, current.size(), old.size());
    Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_searchLog, static_cast<int>(std::min(level.searchLog, kSearchLogMax))));
    Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog, WindowLog(old.size(), current.size())));
    Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, 1));
    Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_contentSizeFlag, 1));
    if (std::max(old.size(), current.size()) >= kLongDistanceFrom)
        Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_enableLongDistanceMatching, 1));
    // The new file stays where it is for the whole frame: zstd reads it there instead of copying
    // it, window by window, into a buffer of its own.
    Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_stableInBuffer, 1));
    // Two maps may happen to lie end to end; zstd would then match across them otherwise, and
    // the same files would give other bytes.
    Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_deterministicRefPrefix, 1));
    // The header states the new file's size, which the updater checks before it decodes.
    Check(ZSTD_CCtx_setPledgedSrcSize(cctx, current.size()));
    Check(ZSTD_CCtx_refPrefix(cctx, old.data(), old.size()));
}

}  // namespace

bool IsPatchLevel(int level)
{
    return level >= 1 && level <= ZSTD_maxCLevel();
}

std::string PatchLevelRange()
{
    return "1 to " + std::to_string(ZSTD_maxCLevel());
}

std::string PatchRecipe(const PatchSettings& settings)
{
    return std::string("zstd ") + ZSTD_versionString() + " level " + std::to_string(settings.level) + " search " +
           std::to_string(kSearchLogMax);
}

bool MakePatch(std::string_view old, std::string_view current, const PatchSettings& settings,
               const PatchOutput& output)
{
    EncodingContext context;
    if (!context.cctx)
        throw std::runtime_error("zstd: no memory for a compression context");
    Configure(context.cctx, old, current, settings);
    std::vector<char> made(ZSTD_CStreamOutSize());
    ZSTD_inBuffer in{current.data(), current.size(), 0};
    for (;;) {
        ZSTD_outBuffer out{made.data(), made.size(), 0};
        const std::size_t left = ZSTD_compressStream2(context.cctx, &out, &in, ZSTD_e_end);
        Check(left);
        if (out.pos > 0 && !output(made.data(), out.pos))
            return false;
        if (left == 0)
            return true;
    }
}

std::string MakePatch(std::string_view old, std::string_view current, const PatchSettings& settings)
{
    std::string patch;
    MakePatch(old, current, settings, [&](const char* data, std::size_t size) {
        patch.append(data, size);
        return true;
    });
    return patch;
}
