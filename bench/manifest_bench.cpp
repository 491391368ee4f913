// The manifest's reading and the check of the installed files against xmllint, measured in the
// same run: a manifest of 100,000 entries, none of them installed, read from disk, read by
// ReadManifest and checked by CheckInstalledFiles (which lists every entry as one to fetch), against `xmllint --noout` reading and parsing the same file; and the memory the
// parse takes at its peak.
//
//   manifest_bench [scratch directory]   (default: ./manifest-bench-data)

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench/BenchSupport.h"
#include "check/InstalledFiles.h"
#include "manifest/ManifestReader.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

constexpr int kEntries = 100000;
constexpr int kRounds = 5;

// Only the queue is measured: nothing is downloaded or installed.
// Reads and parses the manifest into a fresh queue; a parse that misses an entry ends the bench.
void ParseWithTheProgram(const fs::path& manifest, const std::string& installDir)
{
    ManifestListing listing = ReadManifest(ReadWholeFile(manifest));
    const InstalledFilesCheck check = CheckInstalledFiles(installDir, "the manifest", listing, nullptr);
    if (check.bStopped || check.files.size() != kEntries) {
        std::fprintf(stderr, "the parse found %zu of %d entries\n", check.files.size(), kEntries);
        std::exit(1);
    }
}

double Best(const std::function<void()>& work)
{
    double best = 1e9;
    for (int i = 0; i < kRounds; ++i)
        best = std::min(best, Seconds(work));
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    if (std::system("command -v xmllint > /dev/null 2>&1") != 0) {
        std::printf("manifest_bench: skipped, xmllint is not installed (Debian package libxml2-utils)\n");
        return 0;
    }
    fs::path dir = fs::absolute(argc > 1 ? argv[1] : "manifest-bench-data");
    fs::path install = dir / "install";
    fs::remove_all(install);
    fs::create_directories(install);
    fs::path manifest = dir / "update.xml";
    WriteBenchManifest(manifest, kEntries);

    const long before = PeakKilobytes();
    double ours = Best([&] { ParseWithTheProgram(manifest, install.string() + "/"); });
    const long after = PeakKilobytes();
    double xmllint = Best([&] { Shell("xmllint --noout '" + manifest.string() + "'"); });
    std::printf("100,000-entry manifest (%.1f MB): read and checked %.0f ms, xmllint --noout %.0f ms; "
                "time ratio %.3f\n",
                static_cast<double>(fs::file_size(manifest)) / 1e6, ours * 1000, xmllint * 1000, ours / xmllint);
    std::printf("  peak memory %ld KiB before the parse, %ld KiB after: the parse takes %.1f MB (target < 100 MB)\n",
                before, after, static_cast<double>(after - before) / 1024);
    return 0;
}
