// What a signature costs a run: the manifest step of a signed 10,000-entry manifest from nginx,
// with a public key configured, against the same step without one (the difference is the
// signature's fetch and check), and against `minisign -V` checking the same file, measured in
// the same run. The manifest and its signature are made by the real minisign tool.
//
//   signature_bench [scratch directory]   (default: ./signature-bench-data)

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <variant>
#include <vector>

#include "bench/BenchSupport.h"
#include "run/SourceSelection.h"
#include "download/UpdateSession.h"
#include "source/ReadUrlText.h"
#include "tests/support/Nginx.h"
#include "tests/support/TempDir.h"
#include "trust/UpdateTrust.h"

namespace fs = std::filesystem;

namespace {

constexpr int kEntries = 10000;
constexpr int kRounds = 21;

// The manifest step as a run takes it; every entry is queued (nothing is installed).
double ManifestStep(const Nginx& nginx, const std::string& installDir, CUpdateTrust* trust)
{
    ManifestFindings findings;
    double seconds = Seconds([&] { findings = FindManifestUpdate(installDir, nginx.Url("/update/update.xml"), trust, OpenUpdateSession().get()); });
    if (!findings.bFetch || findings.files.size() != kEntries) {
        std::fprintf(stderr, "the manifest step found %zu of %d entries\n", findings.files.size(), kEntries);
        std::exit(1);
    }
    return seconds;
}

}  // namespace

int main(int argc, char** argv)
{
    const fs::path dir = fs::absolute(argc > 1 ? argv[1] : "signature-bench-data");
    fs::create_directories(dir / "site/update");
    fs::create_directories(dir / "install");
    const fs::path manifest = dir / "site/update/update.xml";
    WriteBenchManifest(manifest, kEntries, " sha256=\"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\"");
    fs::remove(dir / "k.pub");
    fs::remove(dir / "k.key");
    Shell("minisign -G -W -p '" + (dir / "k.pub").string() + "' -s '" + (dir / "k.key").string() + "' > /dev/null");
    Shell("minisign -S -s '" + (dir / "k.key").string() + "' -m '" + manifest.string() + "' > /dev/null");
    for (const fs::path& p : {dir, dir / "site"})
        fs::permissions(p, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    Nginx nginx((dir / "site").string(), "    keepalive_requests 100000;\n");
    const std::string installDir = (dir / "install").string() + "/";
    const std::string key = ReadWholeFile(dir / "k.pub");

    const std::string text = ReadWholeFile(manifest);
    std::vector<double> plain, signed_, check, firstCheck, tool;
    for (int i = 0; i < kRounds; ++i) {
        CUpdateTrust trust({key.substr(key.find('\n') + 1)}, installDir + "KesuUpdate.trust");
        plain.push_back(ManifestStep(nginx, installDir, nullptr));
        signed_.push_back(ManifestStep(nginx, installDir, &trust));
        // What the signed step adds: the signature fetched, vetted, checked over the manifest and
        // recorded; first for a release this installation has not accepted yet, then again.
        for (auto* times : {&firstCheck, &check}) {
            if (times == &firstCheck)
                fs::remove(dir / "install/KesuUpdate.trust");
            times->push_back(Seconds([&] {
                auto vetted = trust.Vet("update.xml", ReadSignatureText(nginx.Url("/update/update.xml"), *OpenUpdateSession()));
                if (!std::holds_alternative<VettedSignature>(vetted) ||
                    trust.Accept(std::get<VettedSignature>(vetted), text)) {
                    std::fprintf(stderr, "the signature was refused\n");
                    std::exit(1);
                }
            }));
        }
        tool.push_back(Seconds([&] {
            Shell("minisign -Vq -p '" + (dir / "k.pub").string() + "' -m '" + manifest.string() + "'");
        }));
    }
    std::printf("signed %d-entry manifest (%.1f MB), medians of %d rounds:\n"
                "  the signature adds %.2f ms to the manifest step (%.2f ms for a release not accepted before;"
                " target < 5 ms)\n"
                "  minisign -V on the same file %.2f ms: ratio %.2f\n"
                "  whole manifest step %.1f ms signed, %.1f ms unsigned\n",
                kEntries, static_cast<double>(fs::file_size(manifest)) / 1e6, kRounds, Median(check) * 1e3,
                Median(firstCheck) * 1e3, Median(tool) * 1e3, Median(check) / Median(tool), Median(signed_) * 1e3,
                Median(plain) * 1e3);
    return 0;
}
