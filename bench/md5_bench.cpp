// MD5 throughput of CMD5Checksum against md5sum and openssl, measured in the same run:
//   1. one 1 GiB file in the page cache;
//   2. 10,000 files of 64 KiB hashed one after another;
//   3. the peak memory of hashing, for a small and for the large file.
//
//   md5_bench [scratch directory]   (default: ./md5-bench-data, kept for the next run)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "digest/MD5Checksum.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t kBigSize = 1ull << 30;
constexpr int kSmallFiles = 10000;
constexpr std::size_t kSmallSize = 64 * 1024;
constexpr int kRounds = 3;

// The best of a few rounds, in seconds.
double Best(const std::function<void()>& work)
{
    double best = 1e9;
    for (int i = 0; i < kRounds; ++i) {
        best = std::min(best, Seconds(work));
    }
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    fs::path dir = argc > 1 ? argv[1] : "md5-bench-data";
    fs::create_directories(dir / "small");
    const fs::path big = dir / "big.bin";
    std::printf("preparing %s ...\n", dir.c_str());
    std::fflush(stdout);
    WriteRandomFile(big, kBigSize, 0x9E3779B97F4A7C15ull);
    std::vector<std::string> small;
    for (int i = 0; i < kSmallFiles; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%05d", i);
        small.push_back((dir / "small" / name).string());
        WriteRandomFile(small.back(), kSmallSize, 0x1234567ull + static_cast<std::uint64_t>(i));
    }
    Shell("cat '" + big.string() + "' > /dev/null");

    std::string digest;
    double ours = Best([&] { digest = CMD5Checksum::HashFile(big.string()); });
    double md5sum = Best([&] { Shell("md5sum '" + big.string() + "' > /dev/null"); });
    double openssl = Best([&] { Shell("openssl md5 '" + big.string() + "' > /dev/null"); });
    double mb = static_cast<double>(kBigSize) / 1e6;
    std::printf("1 GiB file:        CMD5Checksum %.0f MB/s, md5sum %.0f MB/s, openssl md5 %.0f MB/s\n", mb / ours,
                mb / md5sum, mb / openssl);
    std::printf("  throughput ratio vs md5sum: %.3f (target >= 0.95)\n", md5sum / ours);
    std::printf("  throughput ratio vs openssl md5: %.3f\n", openssl / ours);

    double oursSmall = Best([&] {
        for (const auto& path : small)
            CMD5Checksum::HashFile(path);
    });
    double md5sumSmall = Best([&] { Shell("cd '" + (dir / "small").string() + "' && md5sum f* > /dev/null"); });
    std::printf("10,000 x 64 KiB:   CMD5Checksum %.3f s, md5sum %.3f s\n", oursSmall, md5sumSmall);
    std::printf("  throughput ratio vs md5sum: %.3f (target >= 1.0)\n", md5sumSmall / oursSmall);

    // Peak memory: a fresh process would be cleaner, but the peak only grows, so hashing the
    // large file after the small ones must not raise it.
    long beforeBig = PeakKilobytes();
    CMD5Checksum::HashFile(big.string());
    long afterBig = PeakKilobytes();
    std::printf("peak memory:       %ld KiB before hashing 1 GiB, %ld KiB after (growth %ld KiB)\n", beforeBig,
                afterBig, afterBig - beforeBig);
    std::printf("digest of the 1 GiB file: %s\n", digest.c_str());
    return 0;
}
