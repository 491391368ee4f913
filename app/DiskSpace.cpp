#include "app/DiskSpace.h"

#include <optional>

#include "app/ConsoleProgress.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"

namespace {

std::string TooLittle(const std::string& directory, std::uint64_t needed, std::uint64_t free)
{
    LogLine("the update needs " + std::to_string(needed) + " bytes in " + directory + ", where " + std::to_string(free) +
            " are free");
    return "磁盘空间不足：更新需要 " + ReadableSize(needed) + "，" + directory + " 只有 " + ReadableSize(free) +
           " 可用，已停止更新。";
}

}  // namespace

std::string DiskSpaceProblem(const std::string& strTempDir, const std::string& strInstallDir, std::uint64_t nDownloadBytes,
                             bool bManifestMode)
{
    const std::optional<FileSystemSpace> temp = GetFileSystemSpace(strTempDir);
    if (temp && temp->nFree < nDownloadBytes)
        return TooLittle(strTempDir, nDownloadBytes, temp->nFree);
    const std::optional<FileSystemSpace> install = GetFileSystemSpace(strInstallDir);
    if (bManifestMode && temp && install && install->nDevice != temp->nDevice && install->nFree < nDownloadBytes)
        return TooLittle(strInstallDir, nDownloadBytes, install->nFree);
    return {};
}
