// UnzipPackage against bsdtar and Info-ZIP unzip, measured in the same run, on a package of
// about 300 MB made of 2,000 files (compressible text and incompressible binary mixed) built with
// `zip -r`; and the peak memory of the extraction.
//
//   unzip_bench [scratch directory]   (default: ./unzip-bench-data)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "archive/UnzipPackage.h"
#include "bench/BenchSupport.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 2000;
constexpr std::size_t kFileSize = 150 * 1024;  // 2,000 x 150 KiB = 300 MB
constexpr int kRounds = 5;

// Even files hold words (they compress about 3:1), odd ones random bytes.
void MakeTree(const fs::path& root)
{
    std::uint64_t seed = 0x5EED;
    std::string buffer(kFileSize, '\0');
    static const char* words[] = {"lobby ", "update ", "manifest ", "package ", "player ", "map ", "town ", "harbour "};
    for (int i = 0; i < kFiles; ++i) {
        fs::path file = root / ("dir" + std::to_string(i % 20)) / ("file" + std::to_string(i) + (i % 2 ? ".bin" : ".txt"));
        fs::create_directories(file.parent_path());
        for (std::size_t at = 0; at < buffer.size();) {
            seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
            if (i % 2) {
                buffer[at++] = static_cast<char>(seed);
            } else {
                const char* word = words[seed % 8];
                for (; *word && at < buffer.size(); ++word)
                    buffer[at++] = *word;
            }
        }
        std::ofstream(file, std::ios::binary).write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    }
}

// A fresh directory for every extraction, and nothing deleted until the end: creating files
// where thousands were just deleted is several times slower on these file systems.
fs::path Fresh(const fs::path& base)
{
    static int serial = 0;
    fs::path dir = base / ("out" + std::to_string(++serial));
    fs::create_directories(dir);
    return dir;
}

}  // namespace

int main(int argc, char** argv)
{
    fs::path dir = fs::absolute(argc > 1 ? argv[1] : "unzip-bench-data");
    fs::path package = dir / "package.zip";
    if (!fs::exists(package)) {
        std::printf("preparing %s ...\n", package.c_str());
        std::fflush(stdout);
        fs::create_directories(dir / "tree");
        MakeTree(dir / "tree");
        Shell("cd '" + (dir / "tree").string() + "' && zip -q -r '" + package.string() + "' .");
        fs::remove_all(dir / "tree");
    }
    Shell("cat '" + package.string() + "' > /dev/null");
    fs::path work = dir / "work";
    fs::remove_all(work);

    double ours = 1e9, bsdtar = 1e9, unzip = 1e9;
    long peakBefore = PeakKilobytes();
    auto runOurs = [&] {
        fs::path out = Fresh(work);
        ours = std::min(ours, Seconds([&] {
                            std::vector<std::string> names;
                            if (UnzipPackage(package.string(), out.string(), names) != ZipResult::Ok || names.size() < kFiles) {
                                std::fprintf(stderr, "UnzipPackage failed\n");
                                std::exit(1);
                            }
                        }, true));
    };
    auto runBsdtar = [&] {
        fs::path out = Fresh(work);
        bsdtar = std::min(bsdtar, Seconds([&] { Shell("bsdtar -xf '" + package.string() + "' -C '" + out.string() + "'"); }, true));
    };
    auto runUnzip = [&] {
        fs::path out = Fresh(work);
        unzip = std::min(unzip, Seconds([&] { Shell("unzip -o -q '" + package.string() + "' -d '" + out.string() + "'"); }, true));
    };
    // Every measurement starts with the previous one's dirty pages written out, and the order
    // changes from round to round, so that no tool always goes first.
    for (int i = 0; i < kRounds; ++i) {
        if (i % 2) {
            runBsdtar(), runOurs();
        } else {
            runOurs(), runBsdtar();
        }
        runUnzip();
    }
    long peakAfter = PeakKilobytes();
    double mb = static_cast<double>(kFiles * kFileSize) / 1e6;
    std::printf("300 MB package of 2,000 files (%.0f MB compressed):\n",
                static_cast<double>(fs::file_size(package)) / 1e6);
    std::printf("  UnzipPackage %.3f s (%.0f MB/s), bsdtar -xf %.3f s, unzip -o -q %.3f s\n", ours, mb / ours, bsdtar,
                unzip);
    std::printf("  throughput ratio vs bsdtar: %.3f (target >= 1.0); vs unzip: %.3f\n", bsdtar / ours, unzip / ours);
    std::printf("  peak memory of this process: %ld KiB before, %ld KiB after extracting\n", peakBefore, peakAfter);
    fs::remove_all(work);
    return 0;
}
