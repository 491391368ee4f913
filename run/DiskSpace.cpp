#include "run/DiskSpace.h"

#include <optional>

#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "sentences/Sentences.h"

namespace {

std::string TooLittle(const std::string& directory, std::uint64_t needed, std::uint64_t free)
{
    LogLine("the update needs " + std::to_string(needed) + " bytes in " + directory + ", where " + std::to_string(free) +
            " are free");
    return sentence::NotEnoughSpace(sentence::ReadableSize(needed), directory, sentence::ReadableSize(free));
}

}  // namespace

std::optional<std::string> DiskSpaceProblem(const std::string& strTempDir, const std::string& strInstallDir, std::uint64_t nDownloadBytes,
                             bool bManifestMode, std::uint64_t nUnpackedBytes)
{
    const std::optional<FileSystemSpace> temp = GetFileSystemSpace(strTempDir);
    const std::optional<FileSystemSpace> install = GetFileSystemSpace(strInstallDir);
    const bool apart = temp && install && install->nDevice != temp->nDevice;
    // What lands in the installation's file system besides renamed downloads.
    const std::uint64_t installBytes = nUnpackedBytes + (bManifestMode && apart ? nDownloadBytes : 0);
    const std::uint64_t tempBytes = nDownloadBytes + (apart ? 0 : installBytes);
    if (temp && temp->nFree < tempBytes)
        return TooLittle(strTempDir, tempBytes, temp->nFree);
    if (apart && install->nFree < installBytes)
        return TooLittle(strInstallDir, installBytes, install->nFree);
    return std::nullopt;
}
