#include "delta/MakePatch.h"

#include <algorithm>
#include <bit>
#include <stdexcept>
#include <vector>
#include <zstd.h>

namespace {

// From this size on, matches lie too far apart for the regular search: long-distance matching
// finds them.
constexpr std::size_t kLongDistanceFrom = 16u << 20;
// zstd's smallest window (1 KiB).
constexpr int kSmallestWindowLog = 10;
// The new file is read in pieces of this size; zstd copies them into its own window.
constexpr std::size_t kInputPiece = 1u << 20;

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

void Configure(ZSTD_CCtx* cctx, std::string_view old, std::uint64_t newSize, const PatchSettings& settings)
{
    Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, settings.level));
    Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog, WindowLog(old.size(), newSize)));
    Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, 1));
    Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_contentSizeFlag, 1));
    if (std::max<std::uint64_t>(old.size(), newSize) >= kLongDistanceFrom)
        Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_enableLongDistanceMatching, 1));
    // A library built without threads refuses workers; the patch is then another one, so that is
    // an error rather than a quiet change of bytes.
    Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_nbWorkers, settings.workers));
    // The header states the new file's size, which the updater checks before it decodes.
    Check(ZSTD_CCtx_setPledgedSrcSize(cctx, newSize));
    Check(ZSTD_CCtx_refPrefix(cctx, old.data(), old.size()));
}

// Hands zstd one piece of the new file (the last with `end`), passing on what it makes; with
// `end`, until the frame is complete. Returns false when the output stopped it.
bool Feed(ZSTD_CCtx* cctx, ZSTD_inBuffer& in, bool end, std::vector<char>& made, const PatchOutput& output)
{
    const ZSTD_EndDirective directive = end ? ZSTD_e_end : ZSTD_e_continue;
    for (;;) {
        ZSTD_outBuffer out{made.data(), made.size(), 0};
        const std::size_t left = ZSTD_compressStream2(cctx, &out, &in, directive);
        Check(left);
        if (out.pos > 0 && !output(made.data(), out.pos))
            return false;
        if (end ? left == 0 : in.pos == in.size)
            return true;
    }
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
    return std::string("zstd ") + ZSTD_versionString() + " level " + std::to_string(settings.level) +
           (settings.workers > 0 ? " threaded" : " unthreaded");
}

bool MakePatch(std::string_view old, std::uint64_t newSize, const PatchInput& input, const PatchSettings& settings,
               const PatchOutput& output)
{
    EncodingContext context;
    if (!context.cctx)
        throw std::runtime_error("zstd: no memory for a compression context");
    Configure(context.cctx, old, newSize, settings);
    std::vector<char> piece(kInputPiece);
    std::vector<char> made(ZSTD_CStreamOutSize());
    std::uint64_t read = 0;
    for (;;) {
        const std::size_t got = read < newSize ? input(piece.data(), piece.size()) : 0;
        read += got;
        const bool end = got == 0 || read >= newSize;
        if (read > newSize)
            throw std::runtime_error("the new file grew while it was being patched");
        ZSTD_inBuffer in{piece.data(), got, 0};
        if (!Feed(context.cctx, in, end, made, output))
            return false;
        if (end)
            return true;  // zstd has checked that it took newSize bytes
    }
}

std::string MakePatch(std::string_view old, std::string_view current, const PatchSettings& settings)
{
    std::size_t taken = 0;
    const PatchInput input = [&](char* buffer, std::size_t size) {
        const std::size_t n = std::min(size, current.size() - taken);
        std::copy_n(current.data() + taken, n, buffer);
        taken += n;
        return n;
    };
    std::string patch;
    MakePatch(old, current.size(), input, settings, [&](const char* data, std::size_t size) {
        patch.append(data, size);
        return true;
    });
    return patch;
}
