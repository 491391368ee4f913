// The download engine against curl and md5sum, measured in the same run, with nginx on loopback:
//   1. one 1 GiB file into the temporary directory, verified against its MD5 (and then its MD5
//      and SHA-256) as it arrives, against `curl -o` to the same disk, and the peak memory of the
//      process while it downloads;
//   2. 5,000 files of 4 KiB listed in a manifest, against one `curl -K` process fetching the same
//      URL/output list over one kept-alive connection;
//   3. the check of 10,000 up-to-date local files of 64 KiB (the manifest step finding nothing
//      to do), against `md5sum -c` on the same files.
//
//   download_bench [scratch directory]   (default: ./download-bench-data)

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "bench/BenchSupport.h"
#include "download/DownloadMgr.h"
#include "digest/MD5Checksum.h"
#include "digest/Sha256.h"
#include "platform/Crypto.h"
#include "run/SourceSelection.h"
#include "download/UpdateSession.h"
#include "tests/download/TestDownloadMgr.h"
#include "tests/support/Nginx.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRounds = 3;

// Keeps the run's count of bytes alone.
class QuietSink : public IDownloadSink {
public:
    void OnDownloadEvent(const DownloadEvent& event) override
    {
        if (const auto* bytes = std::get_if<download_event::BytesArrived>(&event))
            nTotalDone = bytes->nTotalDone;
    }
    std::uint64_t nTotalDone = 0;
};

// Without a step after its downloads, the manager only downloads.
using DownloadOnlyMgr = TestDownloadMgr;

// Writes the manifest of `count` files named data\fNNNNN.bin under root/update/.
void PublishSmallFiles(const fs::path& root, int count, std::size_t size)
{
    std::string manifest = "<?xml version=\"1.0\"?><manifest><filelist>\n";
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "f%05d.bin", i);
        fs::path file = root / "update" / "data" / name;
        WriteRandomFile(file, size, 77 + static_cast<std::uint64_t>(i));
        manifest += std::string("<file filename=\"data\\") + name + "\" filesize=\"" + std::to_string(size) +
                    "\" fileversion=\"1\" md5=\"" + CMD5Checksum::HashFile(file.string()) + "\"/>\n";
    }
    std::ofstream(root / "update" / "small.xml") << manifest << "</filelist></manifest>\n";
}

// A fresh directory for each round: creating thousands of files where thousands were just
// deleted is several times slower on these file systems.
fs::path FreshDir(const fs::path& base)
{
    static int serial = 0;
    fs::path dir = base / ("round" + std::to_string(++serial));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

double DownloadWithEngine(const Nginx& nginx, const fs::path& installDir, const std::string& manifest,
                          std::uint64_t* pTotal = nullptr)
{
    QuietSink sink;
    DownloadOnlyMgr mgr;
    std::string install = installDir.string() + "/";
    mgr.Initialize(&sink, {nginx.Url("/update/"), install + "tmp", install});
    ManifestFindings findings =
        FindManifestUpdate(install, mgr.GetSetup().strBaseURL + manifest, nullptr, OpenUpdateSession().get());
    if (!findings.bFetch) {
        std::fprintf(stderr, "the manifest lists nothing to fetch\n");
        std::exit(1);
    }
    for (ChangedFile& file : findings.files)
        mgr.AddTask(file.strName.c_str(), std::move(file.expected));
    double seconds = Seconds([&] {
        if (mgr.Run() != RunEnd::Done) {
            std::fprintf(stderr, "the download failed\n");
            std::exit(1);
        }
    });
    if (pTotal)
        *pTotal = sink.nTotalDone;
    return seconds;
}

}  // namespace

int main(int argc, char** argv)
{
    fs::path dir = fs::absolute(argc > 1 ? argv[1] : "download-bench-data");
    fs::path root = dir / "server";
    std::printf("preparing %s ...\n", dir.c_str());
    std::fflush(stdout);
    constexpr std::uintmax_t kBig = 1ull << 30;
    WriteRandomFile(root / "update" / "big.bin", kBig, 0xC0FFEEull);
    const std::string bigMd5 = CMD5Checksum::HashFile((root / "update" / "big.bin").string());
    std::string bigSha256;
    {
        CSha256 sha;
        std::ifstream in(root / "update" / "big.bin", std::ios::binary);
        std::vector<char> piece(1 << 20);
        while (in.read(piece.data(), static_cast<std::streamsize>(piece.size())) || in.gcount() > 0)
            sha.Update(piece.data(), static_cast<std::size_t>(in.gcount()));
        const Sha256Digest digest = sha.Final();
        bigSha256 = ToHex(digest.data(), digest.size());
    }
    // As other tools write it (MD5 only), and as kesu-publish does (SHA-256 as well).
    for (const auto& [name, extra] : {std::pair{"big.xml", std::string()}, {"bigsha.xml", " sha256=\"" + bigSha256 + "\""}})
        std::ofstream(root / "update" / name) << "<manifest><filelist><file filename=\"big.bin\" filesize=\"" << kBig
                                              << "\" fileversion=\"1\" md5=\"" << bigMd5 << "\"" << extra
                                              << "/></filelist></manifest>";
    PublishSmallFiles(root, 5000, 4096);
    fs::path checked = dir / "checked";
    PublishSmallFiles(checked, 10000, 65536);
    for (auto* p : {&dir, &root})
        ::chmod(p->c_str(), 0755);
    Nginx nginx(root.string(), "    keepalive_requests 100000;\n");
    fs::path work = dir / "work";
    Shell("cat '" + (root / "update" / "big.bin").string() + "' > /dev/null");

    // 1. One large file.
    double ours = 1e9, oursSha = 1e9, curl = 1e9;
    long peakBefore = PeakKilobytes();
    std::uint64_t received = 0;
    for (int i = 0; i < kRounds; ++i) {
        fs::path install = FreshDir(work);
        ours = std::min(ours, DownloadWithEngine(nginx, install, "big.xml", &received));
        fs::remove_all(install);
        install = FreshDir(work);
        oursSha = std::min(oursSha, DownloadWithEngine(nginx, install, "bigsha.xml"));
        fs::remove_all(install);
        fs::path target = FreshDir(work) / "big.bin";
        curl = std::min(curl, Seconds([&] { Shell("curl -s -o '" + target.string() + "' " + nginx.Url("/update/big.bin")); }));
        fs::remove_all(target.parent_path());
    }
    long peakAfter = PeakKilobytes();
    double mb = static_cast<double>(kBig) / 1e6;
    std::printf("1 GiB file:     engine %.0f MB/s, curl -o %.0f MB/s; throughput ratio %.3f (target >= 0.9)\n",
                mb / ours, mb / curl, curl / ours);
    std::printf("  with its SHA-256 checked too: engine %.0f MB/s; throughput ratio %.3f\n", mb / oursSha,
                curl / oursSha);
    std::printf("  peak memory of this process: %ld KiB before the downloads, %ld KiB after (target < 32 MB)\n",
                peakBefore, peakAfter);
    if (received != static_cast<std::uint64_t>(kBig))
        std::printf("  (received %llu bytes)\n", static_cast<unsigned long long>(received));

    // 2. Many small files over one connection.
    ours = curl = 1e9;
    for (int i = 0; i < kRounds; ++i) {
        ours = std::min(ours, DownloadWithEngine(nginx, FreshDir(work), "small.xml"));
        fs::path target = FreshDir(work);
        std::ofstream config(target / "curl.cfg");
        for (int f = 0; f < 5000; ++f) {
            char name[32];
            std::snprintf(name, sizeof name, "f%05d.bin", f);
            config << "url = \"" << nginx.Url("/update/data/") << name << "\"\noutput = \"" << (target / name).string()
                   << "\"\n";
        }
        config.close();
        curl = std::min(curl, Seconds([&] { Shell("curl -s -K '" + (target / "curl.cfg").string() + "'"); }));
    }
    std::printf("5,000 x 4 KiB:  engine %.3f s, curl -K %.3f s; throughput ratio %.3f (target >= 1.0)\n", ours, curl,
                curl / ours);

    // 3. Checking 10,000 up-to-date files.
    QuietSink sink;
    std::string install = (checked / "update").string() + "/";
    Nginx checkServer(checked.string());
    std::ofstream sums(checked / "md5sums");
    for (const auto& entry : fs::directory_iterator(checked / "update" / "data"))
        sums << CMD5Checksum::HashFile(entry.path().string()) << "  data/" << entry.path().filename().string() << "\n";
    sums.close();
    double check = 1e9, md5sum = 1e9;
    for (int i = 0; i < kRounds; ++i) {
        DownloadOnlyMgr mgr;
        mgr.Initialize(&sink, {checkServer.Url("/update/"), install, install});
        check = std::min(check, Seconds([&] {
            if (FindManifestUpdate(install, mgr.GetSetup().strBaseURL + "small.xml", nullptr, OpenUpdateSession().get())
                    .bFetch)
                std::printf("  unexpected: files were queued\n");
        }));
        md5sum = std::min(md5sum, Seconds([&] {
            Shell("cd '" + install + "' && md5sum --quiet -c '" + (checked / "md5sums").string() + "'");
        }));
    }
    std::printf("10,000 x 64 KiB up to date: manifest step %.3f s, md5sum -c %.3f s; time ratio %.3f (target <= 1.1)\n",
                check, md5sum, check / md5sum);
    fs::remove_all(work);
    return 0;
}
