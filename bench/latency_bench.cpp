// Many small files from a distant server: 500 files of 16 KiB through a proxy that adds 40 ms to
// every round trip, in front of nginx on 127.0.0.1. KesuUpdate.exe (no display; its default
// connections, then one) against `curl --parallel --parallel-max 8`, medians of three.
//
//   latency_bench [scratch directory]   (default: ./latency-bench-data)

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>

#include "bench/BenchSupport.h"
#include "bench/DelayProxy.h"
#include "digest/MD5Checksum.h"
#include "tests/support/Nginx.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 500;
constexpr std::uintmax_t kFileSize = 16 * 1024;
constexpr int kRounds = 3;
constexpr std::chrono::milliseconds kOneWayDelay{20};

std::string Name(int i)
{
    char name[32];
    std::snprintf(name, sizeof name, "small/file%03d.dat", i);
    return name;
}

std::string Quoted(const fs::path& path)
{
    return "'" + path.string() + "'";
}

}  // namespace

int main(int argc, char** argv)
{
    const fs::path scratch = fs::absolute(argc > 1 ? argv[1] : "latency-bench-data");
    const fs::path update = scratch / "server" / "update";
    std::string manifest = "<manifest><filelist>\n";
    for (int i = 0; i < kFiles; ++i) {
        WriteRandomFile(update / Name(i), kFileSize, 900 + static_cast<std::uint64_t>(i));
        std::string windowsName = Name(i);
        windowsName[5] = '\\';
        manifest += "<file filename=\"" + windowsName + "\" filesize=\"" + std::to_string(kFileSize) +
                    "\" fileversion=\"1\" md5=\"" + CMD5Checksum::HashFile((update / Name(i)).string()) + "\"/>\n";
    }
    std::ofstream(update / "small.xml") << manifest << "</filelist></manifest>\n";
    for (const fs::path& p : {scratch, scratch / "server", update, update / "small"})
        ::chmod(p.c_str(), 0755);
    Nginx nginx((scratch / "server").string(), "    keepalive_requests 100000;\n");
    DelayProxy proxy(nginx.Port(), kOneWayDelay);
    const std::string base = "http://127.0.0.1:" + std::to_string(proxy.Port()) + "/update/";
    std::ofstream config(scratch / "curl.cfg");
    for (int i = 0; i < kFiles; ++i)
        config << "url = \"" << base << Name(i) << "\"\noutput = \"" << (scratch / "fetched" / Name(i)).string() << "\"\n";
    config.close();

    std::vector<double> ours, oursOne, curl;
    for (int round = 0; round < kRounds; ++round) {
        for (const char* connections : {"", "Connections=1\n"}) {
            const fs::path install = scratch / "install";
            fs::remove_all(install);
            fs::create_directories(install);
            fs::copy_file(KESU_EXE, install / "KesuUpdate.exe");
            std::ofstream(install / "pirvex.dll") << "[Download]\nsite1=127.0.0.1:" << proxy.Port() << "\n"
                                                  << connections << "[Setup]\nTempDir=tmp\n";
            const double seconds =
                RunChild("cd " + Quoted(install) + " && env -u DISPLAY ./KesuUpdate.exe small.dat 1 2 2>/dev/null").seconds;
            (*connections ? oursOne : ours).push_back(seconds);
            if (!fs::exists(install / Name(kFiles - 1)))
                std::printf("  the program did not install the files\n");
        }
        fs::remove_all(scratch / "fetched");
        curl.push_back(RunChild("curl -s --no-progress-meter --create-dirs --parallel --parallel-max 8 -K " + Quoted(scratch / "curl.cfg")).seconds);
    }
    fs::remove_all(scratch / "install");
    fs::remove_all(scratch / "fetched");
    const double program = Median(ours), one = Median(oursOne), reference = Median(curl);
    std::printf("500 files of 16 KiB, 40 ms a round trip: %.2f s (one connection: %.2f s); curl --parallel "
                "--parallel-max 8: %.2f s; time ratio %.2f (target <= 1.20)\n",
                program, one, reference, program / reference);
    return 0;
}
