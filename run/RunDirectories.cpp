#include "run/RunDirectories.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "sentences/Sentences.h"

namespace fs = std::filesystem;

std::optional<Failure> TempDirProblem(const RunValues& values)
{
    // The setting is joined to the installation directory as it stands, so leading separators
    // keep it inside; a ".." component would lead out, and so would a link on the way.
    const std::string setting = values.strTempDirSetting;
    const std::string relative = setting.substr(std::min(setting.size(), setting.find_first_not_of("\\/")));
    const auto withoutTrailingSeparators = [](std::string path) {
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        return path;
    };
    const std::string directory = withoutTrailingSeparators(ToNativePath(values.strTempDir));
    if (PathIsSymbolicLink(directory)) {
        return Failure{sentence::TempDirIsALink(setting),
                       "the temporary directory " + directory + " is a symbolic link; downloads are staged only inside the installation"};
    }
    std::error_code error;
    const fs::path install = fs::weakly_canonical(PathFromUtf8(withoutTrailingSeparators(ToNativePath(values.strInstallDir))), error);
    const fs::path temp = fs::weakly_canonical(PathFromUtf8(directory), error);
    auto [end, unused] = std::mismatch(install.begin(), install.end(), temp.begin(), temp.end());
    if ((!relative.empty() && !IsContainedRelativePath(relative)) || error || end != install.end()) {
        return Failure{sentence::TempDirOutsideInstallation(setting),
                       "the temporary directory " + directory + " (TempDir \"" + setting +
                           "\") leads out of the installation directory " + values.strInstallDir};
    }
    return std::nullopt;
}

std::optional<Failure> WriteProblem(const RunValues& values)
{
    // The temporary directory is made here, so that a directory that cannot be made is said as
    // what it is rather than as the first download that fails in it.
    for (const std::string& directory : {values.strInstallDir, values.strTempDir}) {
        CreateDirectoryWithParents(directory);
        if (std::optional<int> error = DirectoryWriteError(directory)) {
            const std::string native = ToNativePath(directory);
            return Failure{sentence::CannotWrite(native),
                           "cannot write in " + native + ": " + std::strerror(*error) + " (errno " +
                               std::to_string(*error) + ")"};
        }
    }
    return std::nullopt;
}
