// kesu-publish against md5sum and sha256sum, measured in the same run: a build of 10,000 files
// (1 GB) published into a fresh tree, against md5sum over the same files, and against md5sum and
// sha256sum together (the manifest lists both digests).
//
//   publish_bench [scratch directory]   (default: ./publish-bench-data)

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/BenchSupport.h"

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    fs::path dir = fs::absolute(argc > 1 ? argv[1] : "publish-bench-data");
    fs::path build = dir / "build";
    std::printf("preparing %s ...\n", dir.c_str());
    std::fflush(stdout);
    for (int i = 0; i < 10000; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "dir%02d/file%05d.dat", i % 50, i);
        WriteRandomFile(build / name, 100000, 7000 + static_cast<std::uint64_t>(i));
    }
    Shell("find '" + build.string() + "' -type f -print0 | xargs -0 cat > /dev/null");

    double publish = 1e9, md5sum = 1e9, both = 1e9;
    for (int round = 0; round < 3; ++round) {
        fs::path tree = dir / ("tree" + std::to_string(round));
        fs::remove_all(tree);
        publish = std::min(publish, Seconds([&] {
                               Shell("'" KESU_PUBLISH "' '" + build.string() + "' '" + tree.string() + "' > /dev/null");
                           },
                                            true));
        md5sum = std::min(md5sum, Seconds([&] {
                              Shell("cd '" + build.string() + "' && find . -type f -print0 | xargs -0 md5sum > /dev/null");
                          },
                                          true));
        // The manifest lists both digests: what a publisher would otherwise run to get them.
        both = std::min(both, Seconds([&] {
                            Shell("cd '" + build.string() +
                                  "' && find . -type f -print0 | xargs -0 md5sum > /dev/null &&"
                                  " find . -type f -print0 | xargs -0 sha256sum > /dev/null");
                        },
                                      true));
    }
    for (int round = 0; round < 3; ++round)
        fs::remove_all(dir / ("tree" + std::to_string(round)));
    std::printf("publishing 10,000 files (1 GB) into a fresh tree: %.3f s; md5sum over them: %.3f s, time ratio %.3f;\n"
                "  md5sum and sha256sum over them (the two digests the manifest lists): %.3f s, time ratio %.3f"
                " (target <= 1.2)\n",
                publish, md5sum, publish / md5sum, both, publish / both);
    return 0;
}
