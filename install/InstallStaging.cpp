#include "install/InstallStaging.h"

#include <cerrno>
#include <filesystem>
#include <optional>
#include <regex>

#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/Path.h"

namespace fs = std::filesystem;

namespace {

std::optional<std::uint64_t> DeviceOf(const std::string& path)
{
    const std::optional<FileStatus> status = GetFileStatus(path);
    return status ? std::optional(status->facts.nDevice) : std::nullopt;
}

// The temporary files CAtomicFile names beside its targets.
bool IsPartFileName(const std::string& name)
{
    static const std::regex part(R"(\.[0-9]+-[0-9]+\.part)");
    return std::regex_match(name, part);
}

}  // namespace

StagingPlace ChooseStaging(const std::string& tempDir, const std::string& installDir)
{
    const std::optional<std::uint64_t> temp = DeviceOf(tempDir);
    if (temp && temp == DeviceOf(installDir))
        return {PathInDirectory(tempDir, kStagingName), false};
    return {PathInDirectory(installDir, kStagingName), true};
}

bool PrepareStaging(const std::string& directory)
{
    RemoveStaging(directory);
    return CreateDirectory(directory);
}

void RemoveStaging(const std::string& directory)
{
    std::error_code error;
    fs::remove_all(PathFromUtf8(ToNativePath(directory)), error);
    if (error)
        LogLine("the staging directory " + directory + " could not be removed: " + error.message());
}

void RemoveStaleLeftovers(const std::string& tempDir, const std::string& installDir)
{
    for (const std::string& directory : {PathInDirectory(tempDir, kStagingName), PathInDirectory(installDir, kStagingName)}) {
        if (PathNameExists(directory)) {
            LogNote("removing " + directory + ", left by an installation that stopped before it began");
            RemoveStaging(directory);
        }
    }
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(PathFromUtf8(ToNativePath(tempDir)), error)) {
        if (IsPartFileName(Utf8OfPath(entry.path().filename())))
            DeleteFile(Utf8OfPath(entry.path()));
    }
}

int EnsureDirectory(const std::string& path)
{
    // One level at a time, so that the reason is that of the level that failed.
    std::string native = ToNativePath(path);
    while (native.size() > 1 && native.ends_with('/'))
        native.pop_back();
    std::size_t at = 0;
    do {
        at = native.find('/', at + 1);
        const std::string level = native.substr(0, at);
        if (!PathIsDirectory(level) && !CreateDirectory(level))
            return errno == EEXIST ? ENOTDIR : errno;
    } while (at != std::string::npos);
    return 0;
}
