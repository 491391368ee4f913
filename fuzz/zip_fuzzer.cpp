// Fuzzes package extraction: the bytes are written as an archive and unpacked into a scratch
// destination; afterwards nothing may exist beside the destination but the archive itself.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "archive/PackageCheck.h"
#include "archive/UnzipPackage.h"
#include "archive/ZipReader.h"

namespace fs = std::filesystem;

namespace {

const fs::path& Root()
{
    static const fs::path root = [] {
        char pattern[] = "/tmp/kesu-zip-fuzz-XXXXXX";
        fs::path dir = ::mkdtemp(pattern);
        fs::create_directories(dir / "cwd");
        // Failed entries are looked up relative to the current directory.
        if (::chdir((dir / "cwd").c_str()) != 0)
            std::abort();
        return dir;
    }();
    return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const fs::path& root = Root();
    const fs::path archive = root / "package.zip";
    const fs::path dest = root / "dest";
    std::ofstream(archive, std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (std::unique_ptr<CZipReader> reader = CZipReader::Open(archive.string()))
        FindUnpackableEntry(*reader);
    std::vector<std::string> names;
    UnzipPackage(archive.string(), dest.string(), names);

    // Every link made leads to a place inside the destination.
    std::error_code error;
    const fs::path inside = fs::weakly_canonical(dest, error);
    for (auto it = fs::recursive_directory_iterator(dest, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        if (!it->is_symlink())
            continue;
        const fs::path resolved = fs::weakly_canonical(it->path().parent_path() / fs::read_symlink(it->path()), error);
        if (!error && resolved != inside && resolved.string().rfind(inside.string() + "/", 0) != 0)
            std::abort();  // a link out of the destination
        it.disable_recursion_pending();
    }

    for (const auto& entry : fs::directory_iterator(root)) {
        const auto name = entry.path().filename();
        if (name != "dest" && name != "cwd" && name != "package.zip")
            std::abort();  // written outside the destination
    }
    if (!fs::is_empty(root / "cwd"))
        std::abort();
    std::error_code ignored;
    fs::permissions(dest, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(dest, ignored);
    return 0;
}
