// A whole update with the window on Xvfb against the tools a user would otherwise use, in the
// same run: 2,000 files (200 MB) in the installation, 500 of them changed on the server. The
// reference is md5sum over the local files plus one curl process fetching the changed files
// over one kept-alive connection; and the same followed by md5sum over what curl fetched, as the
// program verifies every file it downloads.
//
//   update_bench [scratch directory]   (default: ./update-bench-data)

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>

#include "bench/BenchSupport.h"
#include "digest/MD5Checksum.h"
#include "tests/support/Nginx.h"
#include "tests/support/Xvfb.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 2000;
constexpr int kChanged = 500;
constexpr std::uintmax_t kFileSize = 100 * 1000;
constexpr int kRounds = 3;

std::string Name(int i)
{
    char name[32];
    std::snprintf(name, sizeof name, "dir%02d/file%04d.dat", i % 40, i);
    return name;
}

}  // namespace

int main(int argc, char** argv)
{
    fs::path dir = fs::absolute(argc > 1 ? argv[1] : "update-bench-data");
    fs::path published = dir / "server" / "update";
    fs::path old = dir / "old";
    std::printf("preparing %s ...\n", dir.c_str());
    std::fflush(stdout);
    std::string manifest = "<?xml version=\"1.0\"?><manifest><filelist>\n";
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = Name(i);
        WriteRandomFile(published / name, kFileSize, 1000 + static_cast<std::uint64_t>(i));
        // The installed version: the first kChanged files differ.
        WriteRandomFile(old / name, kFileSize, (i < kChanged ? 5000 : 1000) + static_cast<std::uint64_t>(i));
        std::string windowsName = name;
        std::replace(windowsName.begin(), windowsName.end(), '/', '\\');
        manifest += "<file filename=\"" + windowsName + "\" filesize=\"" + std::to_string(kFileSize) +
                    "\" fileversion=\"1\" md5=\"" + CMD5Checksum::HashFile((published / name).string()) + "\"/>\n";
    }
    std::ofstream(published / "update.xml") << manifest << "</filelist></manifest>\n";
    fs::copy_file(KESU_EXE, old / "KesuUpdate.exe", fs::copy_options::overwrite_existing);
    for (const fs::path& p : {dir, dir / "server"})
        ::chmod(p.c_str(), 0755);

    Nginx nginx((dir / "server").string(), "    keepalive_requests 100000;\n");
    std::ofstream(old / "pirvex.dll") << "[Download]\nsite1=127.0.0.1:" << nginx.Port() << "\n[Setup]\nTempDir=tmp\n";
    std::ofstream config(dir / "curl.cfg");
    for (int i = 0; i < kChanged; ++i)
        config << "url = \"" << nginx.Url("/update/" + Name(i)) << "\"\noutput = \"" << (dir / "fetched" / Name(i)).string()
               << "\"\n";
    config.close();
    Xvfb x;
    Shell("cat '" + old.string() + "'/*/* > /dev/null");

    double ours = 1e9, reference = 1e9, verifying = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        // A fresh installation each round, made of links to the old files: the update replaces
        // links, the old files stay for the next round.
        fs::path install = dir / ("install" + std::to_string(round));
        fs::remove_all(install);
        Shell("cp -al '" + old.string() + "' '" + install.string() + "'");
        ours = std::min(ours, Seconds([&] { Shell("cd '" + install.string() + "' && ./KesuUpdate.exe 2>/dev/null"); }, true));
        if (CMD5Checksum::HashFile((install / Name(0)).string()) != CMD5Checksum::HashFile((published / Name(0)).string()))
            std::printf("  the update did not install the changed files\n");
        fs::remove_all(dir / "fetched");
        reference = std::min(reference, Seconds([&] {
                                 Shell("cd '" + old.string() + "' && find . -name '*.dat' -print0 | xargs -0 md5sum > /dev/null");
                                 Shell("curl -s --create-dirs -K '" + (dir / "curl.cfg").string() + "'");
                             },
                                               true));
        // The program also checks every downloaded file against the manifest before installing.
        fs::remove_all(dir / "fetched");
        verifying = std::min(verifying, Seconds([&] {
                                 Shell("cd '" + old.string() + "' && find . -name '*.dat' -print0 | xargs -0 md5sum > /dev/null");
                                 Shell("curl -s --create-dirs -K '" + (dir / "curl.cfg").string() + "'");
                                 Shell("cd '" + (dir / "fetched").string() +
                                       "' && find . -name '*.dat' -print0 | xargs -0 md5sum > /dev/null");
                             },
                                               true));
        fs::remove_all(install);
    }
    std::printf("update of 2,000 files (200 MB), 500 changed, with the window: %.3f s; md5sum + curl -K: %.3f s; "
                "time ratio %.3f (target <= 1.2)\n"
                "  against md5sum + curl -K + md5sum of what curl fetched (the program verifies every download): "
                "%.3f s, time ratio %.3f\n",
                ours, reference, ours / reference, verifying, ours / verifying);
    return 0;
}
