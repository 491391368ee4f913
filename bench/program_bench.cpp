// The whole program as a player runs it, without a display, against the tools a user would
// otherwise reach for, in one run: medians of three, on nginx on 127.0.0.1. Each reference command
// is printed as it is first run.
//   - one 1 GiB file: KesuUpdate.exe, and `curl -s -o FILE URL && sync FILE`;
//   - a 300 MB package of 2,000 files: KesuUpdate.exe -install, and
//     `curl -s -o P URL && bsdtar -xf P -C DIR && sync -f DIR`;
//   - an installation of 10,000 files of 64 KiB, all up to date: KesuUpdate.exe's first check
//     (no check cache) and its next one, and `md5sum -c --quiet` over the same files.
// The program's peak memory is printed with each.
//
//   program_bench [scratch directory] [check|big|package ...]   (default: ./program-bench-data, all)

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "bench/BenchSupport.h"
#include "digest/MD5Checksum.h"
#include "tests/support/Nginx.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t kBigFile = 1ull << 30;
constexpr int kPackageFiles = 2000;
constexpr std::uintmax_t kPackageFileSize = 150 * 1000;
constexpr int kCheckedFiles = 10000;
constexpr std::uintmax_t kCheckedFileSize = 64 * 1024;
constexpr int kRounds = 3;

std::string Quoted(const fs::path& path)
{
    return "'" + path.string() + "'";
}

// The server's side: big.bin under its manifest big.xml, and game.zip (with game.xml naming
// nothing, never asked for while the package is there).
void Publish(const fs::path& update, const fs::path& scratch)
{
    WriteRandomFile(update / "big.bin", kBigFile, 7);
    std::ofstream(update / "big.xml") << "<manifest><filelist><file filename=\"big.bin\" filesize=\"" << kBigFile
                                      << "\" fileversion=\"1\" md5=\"" << CMD5Checksum::HashFile((update / "big.bin").string())
                                      << "\"/></filelist></manifest>\n";
    if (fs::exists(update / "game.zip"))
        return;
    const fs::path tree = scratch / "package-tree";
    for (int i = 0; i < kPackageFiles; ++i) {
        char name[48];
        std::snprintf(name, sizeof name, "maps/region%02d/tile%04d.dat", i % 40, i);
        WriteRandomFile(tree / name, kPackageFileSize, 100 + static_cast<std::uint64_t>(i));
    }
    Shell("cd " + Quoted(tree) + " && zip -q -r " + Quoted(update / "game.zip") + " maps");
}

// An installation whose files are all those of checked.xml, and md5sum's list of them.
fs::path CheckedInstallation(const fs::path& scratch, const fs::path& update, const Nginx& nginx)
{
    const fs::path install = scratch / "checked";
    std::string manifest = "<manifest><filelist>\n";
    std::ofstream list(scratch / "checked.md5");
    for (int i = 0; i < kCheckedFiles; ++i) {
        char name[48];
        std::snprintf(name, sizeof name, "data/part%02d/file%05d.bin", i % 50, i);
        WriteRandomFile(install / name, kCheckedFileSize, 5000 + static_cast<std::uint64_t>(i));
        const std::string md5 = CMD5Checksum::HashFile((install / name).string());
        std::string windowsName = name;
        std::replace(windowsName.begin(), windowsName.end(), '/', '\\');
        manifest += "<file filename=\"" + windowsName + "\" filesize=\"" + std::to_string(kCheckedFileSize) +
                    "\" fileversion=\"1\" md5=\"" + md5 + "\"/>\n";
        list << md5 << "  " << name << "\n";
    }
    std::ofstream(update / "checked.xml") << manifest << "</filelist></manifest>\n";
    fs::copy_file(KESU_EXE, install / "KesuUpdate.exe", fs::copy_options::overwrite_existing);
    std::ofstream(install / "pirvex.dll") << "[Download]\nsite1=127.0.0.1:" << nginx.Port() << "\n[Setup]\nTempDir=tmp\n";
    fs::create_directories(install / "tmp");
    return install;
}

// A fresh installation with the program and its settings, at `install`.
fs::path FreshInstallation(const fs::path& install, const Nginx& nginx)
{
    fs::remove_all(install);
    fs::create_directories(install);
    fs::copy_file(KESU_EXE, install / "KesuUpdate.exe");
    std::ofstream(install / "pirvex.dll") << "[Download]\nsite1=127.0.0.1:" << nginx.Port() << "\n[Setup]\nTempDir=tmp\n";
    return install;
}

struct Figures {
    std::vector<double> ours, reference;
    long peakKilobytes = 0;
};

void Report(const char* work, const char* reference, Figures& figures, double target)
{
    const double ours = Median(figures.ours), theirs = Median(figures.reference);
    std::printf("%s: %.2f s (peak %ld MB); %s: %.2f s; time ratio %.2f (target <= %.2f)\n", work, ours,
                figures.peakKilobytes / 1024, reference, theirs, ours / theirs, target);
    std::fflush(stdout);
}

// Prints a command as it is run, when asked to.
std::string Shown(const std::string& command, bool show = true)
{
    if (show)
        std::printf("  $ %s\n", command.c_str());
    return command;
}

void CompareChecks(const fs::path& scratch, const fs::path& update, const Nginx& nginx)
{
    // The check cache keeps only files that changed more than two seconds before a check.
    const fs::path checked = CheckedInstallation(scratch, update, nginx);
    ::sleep(3);
    Shell("cat " + Quoted(checked) + "/data/*/* > /dev/null");
    Figures firstCheck, secondCheck;
    const std::string check = "cd " + Quoted(checked) + " && env -u DISPLAY ./KesuUpdate.exe checked.dat 1 2 2>/dev/null";
    std::vector<double> md5sum;
    for (int round = 0; round < kRounds; ++round) {
        fs::remove(checked / "tmp" / "check.cache");
        ChildRun run = RunChild(Shown(check, round == 0));
        firstCheck.ours.push_back(run.seconds);
        firstCheck.peakKilobytes = std::max(firstCheck.peakKilobytes, run.peakKilobytes);
        run = RunChild(check);
        secondCheck.ours.push_back(run.seconds);
        secondCheck.peakKilobytes = std::max(secondCheck.peakKilobytes, run.peakKilobytes);
        md5sum.push_back(
            RunChild(Shown("cd " + Quoted(checked) + " && md5sum -c --quiet " + Quoted(scratch / "checked.md5"), round == 0))
                .seconds);
    }
    if (!fs::exists(checked / "tmp" / "check.cache"))
        std::printf("  the program kept no check cache\n");
    firstCheck.reference = secondCheck.reference = md5sum;
    Report("first check of 10,000 up-to-date files of 64 KiB", "md5sum -c", firstCheck, 0.60);
    Report("the same checked again", "md5sum -c", secondCheck, 0.10);
}

// Each round: the program into a fresh installation (kept until the next round, for its log), then
// the reference in an empty directory (holding an empty `made` directory), each after a sync of
// the machine. Both reuse the same directories round after round: on this kind of virtual disk,
// writes to blocks never written before are several times slower, for both alike.
void CompareDownloads(const fs::path& scratch, const Nginx& nginx, const char* work, const std::string& program,
                      const std::string& reference, const fs::path& installed, double target)
{
    Figures figures;
    const fs::path fetched = scratch / "fetched";
    for (int round = 0; round < kRounds; ++round) {
        const fs::path install = FreshInstallation(scratch / "install", nginx);
        ::sync();
        ChildRun run = RunChild(Shown("cd " + Quoted(install) + " && env -u DISPLAY ./KesuUpdate.exe " + program + " 2>/dev/null",
                                      round == 0));
        figures.ours.push_back(run.seconds);
        figures.peakKilobytes = std::max(figures.peakKilobytes, run.peakKilobytes);
        if (!fs::exists(install / installed))
            std::printf("  the program did not install %s\n", installed.c_str());
        fs::remove_all(fetched);
        fs::create_directories(fetched / "made");
        ::sync();
        figures.reference.push_back(RunChild(Shown("cd " + Quoted(fetched) + " && " + reference, round == 0)).seconds);
    }
    fs::remove_all(fetched);
    Report(work, reference.c_str(), figures, target);
}

}  // namespace

int main(int argc, char** argv)
{
    const fs::path scratch = fs::absolute(argc > 1 ? argv[1] : "program-bench-data");
    std::set<std::string> parts(argv + std::min(argc, 2), argv + argc);
    if (parts.empty())
        parts = {"check", "big", "package"};
    const fs::path update = scratch / "server" / "update";
    std::printf("preparing %s ...\n", scratch.c_str());
    std::fflush(stdout);
    Publish(update, scratch);
    for (const fs::path& p : {scratch, scratch / "server", update})
        ::chmod(p.c_str(), 0755);
    Nginx nginx((scratch / "server").string(), "    keepalive_requests 100000;\n");
    Shell("cat " + Quoted(update) + "/* > /dev/null");  // both sides read the server's files from memory

    if (parts.contains("check"))
        CompareChecks(scratch, update, nginx);
    if (parts.contains("big"))
        CompareDownloads(scratch, nginx, "one 1 GiB file", "big.dat 1 2",
                         "curl -s -o big.bin " + nginx.Url("/update/big.bin") + " && sync big.bin", "big.bin", 1.10);
    if (parts.contains("package"))
        CompareDownloads(scratch, nginx, "300 MB package of 2,000 files", "game.dat 1 2 -install",
                         "curl -s -o game.zip " + nginx.Url("/update/game.zip") + " && bsdtar -xf game.zip -C made && sync -f made",
                         "maps/region01/tile0001.dat", 1.10);
    return 0;
}
