#include "delta/ApplyPatch.h"

#include <zstd.h>

#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/MappedFile.h"

namespace {

struct DecodingContext {
    ZSTD_DCtx* dctx = ZSTD_createDCtx();
    ~DecodingContext() { ZSTD_freeDCtx(dctx); }
};

std::string Decode(const CMappedFile& old, const CMappedFile& patch, CMappedFile& out)
{
    const unsigned long long announced = ZSTD_getFrameContentSize(patch.Data(), patch.Size());
    if (announced == ZSTD_CONTENTSIZE_ERROR)
        return "the patch is not a zstd frame";
    if (announced != ZSTD_CONTENTSIZE_UNKNOWN && announced != out.Size())
        return "the patch makes " + std::to_string(announced) + " bytes, not " + std::to_string(out.Size());
    DecodingContext context;
    if (!context.dctx)
        return "no memory to decode the patch";
    ZSTD_DCtx_setParameter(context.dctx, ZSTD_d_windowLogMax, kPatchWindowLogMax);
    if (ZSTD_isError(ZSTD_DCtx_refPrefix(context.dctx, old.Data(), old.Size())))
        return "the old file cannot serve as the patch's prefix";
    const std::size_t made = ZSTD_decompressDCtx(context.dctx, out.MutableData(), out.Size(), patch.Data(), patch.Size());
    if (ZSTD_isError(made))
        return std::string("the patch cannot be applied: ") + ZSTD_getErrorName(made);
    if (made != out.Size())
        return "the patch made " + std::to_string(made) + " bytes, not " + std::to_string(out.Size());
    return {};
}

}  // namespace

std::optional<std::string> ApplyPatch(const std::string& strOldPath, const std::string& strPatchPath, const std::string& strOutPath,
                       std::uint64_t nNewSize)
{
    std::string failure;
    try {
        const CMappedFile old = CMappedFile::Read(strOldPath);
        const CMappedFile patch = CMappedFile::Read(strPatchPath);
        CMappedFile out = CMappedFile::Create(strOutPath, nNewSize);
        failure = nNewSize == 0 ? std::string() : Decode(old, patch, out);
        out.Close();
    } catch (const CFileException& e) {
        failure = e.GetErrorMessage();
    }
    if (failure.empty())
        return std::nullopt;
    DeleteFile(strOutPath);
    return failure;
}
