// Patches against the reference tools, measured in the same run, on two real pairs of files:
//   - the program itself: KesuUpdate.exe built at commit 4238ad3, forty-odd commits back (built
//     once in a scratch worktree, then kept in the scratch directory), and the current build;
//   - a 200 MB file of game records and a copy with 1 % of its records rewritten here and there.
// For each pair: what kesu-publish pays, in time and peak memory, to publish the new file with a
// patch from the old one, against without; the size of that patch (MakePatch's) against the
// smaller of `zstd -19 --long=31 --patch-from` and `xdelta3 -9 -e -s`; and the time ApplyPatch
// takes against `zstd -d --long=31 --patch-from` on the same patch (medians of three).
// Last, a whole release through the program: a game of 100 record files of 2 MB, its next
// version with 10 % of the records of every other file rewritten (5 % of its bytes), published
// with patches from the first version and without; KesuUpdate.exe updates an installation of the
// first version from nginx, and the bytes nginx sent are compared.
//
//   delta_bench [scratch directory]   (default: ./delta-bench-data)

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "bench/BenchSupport.h"
#include "delta/ApplyPatch.h"
#include "digest/MD5Checksum.h"
#include "tests/support/Nginx.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kOldCommit = "4238ad3";
constexpr std::uint64_t kRecordFileSize = 200'000'000;
constexpr int kGameFiles = 100;
constexpr std::uint64_t kGameFileSize = 2'000'000;
constexpr int kRounds = 3;

std::string Quoted(const fs::path& path)
{
    return "'" + path.string() + "'";
}

// KesuUpdate.exe as it was built at kOldCommit, built the first time in a worktree under /tmp.
fs::path OldProgram(const fs::path& scratch)
{
    const fs::path program = scratch / ("program-" + std::string(kOldCommit)) / "KesuUpdate.exe";
    if (fs::exists(program))
        return program;
    std::printf("building KesuUpdate.exe at %s (once) ...\n", kOldCommit);
    std::fflush(stdout);
    const fs::path worktree = fs::temp_directory_path() / ("kesu-delta-bench-" + std::to_string(::getpid()));
    Shell("git -C " + Quoted(KESU_SOURCE_DIR) + " worktree add -q --detach " + Quoted(worktree) + " " + kOldCommit);
    const std::string build = "cmake -S " + Quoted(worktree) + " -B " + Quoted(worktree / "build") +
                              " -DKESU_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null"
                              " && cmake --build " +
                              Quoted(worktree / "build") + " -j2 --target KesuUpdate > /dev/null";
    const bool built = std::system(build.c_str()) == 0;
    if (built) {
        fs::create_directories(program.parent_path());
        fs::copy_file(worktree / "build" / "KesuUpdate.exe", program);
    }
    Shell("git -C " + Quoted(KESU_SOURCE_DIR) + " worktree remove --force " + Quoted(worktree));
    if (!built) {
        std::fprintf(stderr, "KesuUpdate.exe could not be built at %s\n", kOldCommit);
        std::exit(1);
    }
    return program;
}

std::uint64_t Mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// One 64-byte record of a game's world: an id, small numbers in narrow ranges, a name from a
// short list and zero padding, as a game's tables look. `key` tells the record from those of
// other files; `seed`, its versions.
std::array<char, 64> Record(std::uint64_t key, std::uint64_t seed)
{
    static const char* const kNames[] = {"oak tree", "stone wall", "market stall", "well", "guard post",
                                         "wheat field", "bridge", "lantern", "fountain", "barrel", "cart",
                                         "blacksmith", "tavern door", "fence", "signpost", "haystack"};
    const std::uint64_t bits = Mix(seed ^ (key << 8));
    const auto id = static_cast<std::uint32_t>(key);
    std::array<char, 64> record{};
    const std::uint16_t zone = static_cast<std::uint16_t>(id / 4096), kind = static_cast<std::uint16_t>(bits % 16);
    const float position[3] = {static_cast<float>((bits >> 8) % 4096) / 4, static_cast<float>((bits >> 20) % 4096) / 4,
                               static_cast<float>((bits >> 32) % 64)};
    const std::uint32_t health = 100 + static_cast<std::uint32_t>((bits >> 40) % 100) * 10;
    const std::uint64_t placed = 1'700'000'000ull + id * 17ull + (bits >> 56);
    std::memcpy(&record[0], &id, 4);
    std::memcpy(&record[4], &zone, 2);
    std::memcpy(&record[6], &kind, 2);
    std::memcpy(&record[8], position, 12);
    std::memcpy(&record[20], &health, 4);
    std::strncpy(&record[24], kNames[kind], 24);
    std::memcpy(&record[48], &placed, 8);
    return record;
}

// The records of the file numbered `file`; with `changedPercent`, the same file with that share
// of its records rewritten, chosen by a hash of their keys, so scattered over the whole file.
void WriteRecords(const fs::path& path, std::uint64_t size, std::uint32_t file, unsigned changedPercent)
{
    if (fs::exists(path) && fs::file_size(path) == size)
        return;
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    for (std::uint64_t id = 0; id < size / 64; ++id) {
        const std::uint64_t key = std::uint64_t{file} << 32 | id;
        const bool changed = changedPercent > 0 && Mix(key) % 100 < changedPercent;
        const std::array<char, 64> record = Record(key, changed ? 2 : 1);
        out.write(record.data(), record.size());
    }
}

std::string Md5Of(const fs::path& path)
{
    return CMD5Checksum::HashFile(path.string());
}

// One file in two builds, at the same name in each.
struct Pair {
    std::string what;
    fs::path oldBuild, newBuild;
    std::string name;
    fs::path Old() const { return oldBuild / name; }
    fs::path New() const { return newBuild / name; }
};

// kesu-publish on the new build, without and with a patch from the old one: what it costs, and
// the patch it wrote (MakePatch's), or an empty path when it kept none.
fs::path PublishPatch(const Pair& pair, const fs::path& work)
{
    const std::string publish = "'" KESU_PUBLISH "' ";
    fs::remove_all(work / "plain");
    fs::remove_all(work / "tree");
    ::sync();
    const ChildRun plain = RunChild(publish + Quoted(pair.newBuild) + " " + Quoted(work / "plain") + " > /dev/null");
    ::sync();
    const ChildRun patched = RunChild(publish + "--previous " + Quoted(pair.oldBuild) + " " + Quoted(pair.newBuild) +
                                      " " + Quoted(work / "tree") + " > /dev/null");
    std::printf("%s, kesu-publish: with --previous %.1f s, peak %ld MB; without %.1f s, peak %ld MB\n",
                pair.what.c_str(), patched.seconds, patched.peakKilobytes / 1024, plain.seconds,
                plain.peakKilobytes / 1024);
    std::fflush(stdout);
    fs::remove_all(work / "plain");
    if (!fs::is_directory(work / "tree" / "patches"))
        return {};
    return fs::directory_iterator(work / "tree" / "patches")->path();
}

void ComparePatchSizes(const Pair& pair, const fs::path& ours, const fs::path& work)
{
    const fs::path zstd = work / "zstd.zst", xdelta = work / "xdelta.vcdiff";
    const double zstdMaking = RunChild("zstd -q -f -19 --long=31 --patch-from=" + Quoted(pair.Old()) + " " +
                                       Quoted(pair.New()) + " -o " + Quoted(zstd) + " 2>/dev/null")
                                  .seconds;
    const double xdeltaMaking =
        RunChild("xdelta3 -q -f -9 -e -s " + Quoted(pair.Old()) + " " + Quoted(pair.New()) + " " + Quoted(xdelta))
            .seconds;
    const auto best = std::min(fs::file_size(zstd), fs::file_size(xdelta));
    std::printf("%s, patch: MakePatch %ju bytes; zstd -19 --long=31 --patch-from %ju bytes (%.1f s); "
                "xdelta3 -9 -e -s %ju bytes (%.1f s); size ratio %.3f (target <= 1.05)\n",
                pair.what.c_str(), fs::file_size(ours), fs::file_size(zstd), zstdMaking, fs::file_size(xdelta),
                xdeltaMaking, static_cast<double>(fs::file_size(ours)) / static_cast<double>(best));
    std::fflush(stdout);
}

void CompareApplying(const Pair& pair, const fs::path& patch, const fs::path& work)
{
    const fs::path made = work / "made", madeByZstd = work / "made-by-zstd";
    const std::uint64_t size = fs::file_size(pair.New());
    std::vector<double> ours, zstd;
    std::optional<std::string> failure;
    for (int round = 0; round < kRounds; ++round) {
        fs::remove(made);
        ours.push_back(
            Seconds([&] { failure = ApplyPatch(pair.Old().string(), patch.string(), made.string(), size); }, true));
        fs::remove(madeByZstd);
        ::sync();
        zstd.push_back(RunChild("zstd -q -f -d --long=31 --patch-from=" + Quoted(pair.Old()) + " " + Quoted(patch) +
                                " -o " + Quoted(madeByZstd))
                           .seconds);
    }
    const std::string expected = Md5Of(pair.New());
    if (failure || Md5Of(made) != expected || Md5Of(madeByZstd) != expected)
        std::printf("  the patch did not make the new file: %s\n", failure.value_or("its digest differs").c_str());
    std::printf("%s, apply: ApplyPatch %.3f s; zstd -d --long=31 --patch-from %.3f s; time ratio %.2f"
                " (target <= 1.2)\n",
                pair.what.c_str(), Median(ours), Median(zstd), Median(ours) / Median(zstd));
    std::fflush(stdout);
}

void ComparePair(const Pair& pair, const fs::path& work)
{
    fs::remove_all(work);
    fs::create_directories(work);
    const fs::path patch = PublishPatch(pair, work);
    if (patch.empty()) {
        std::printf("%s: kesu-publish kept no patch\n", pair.what.c_str());
        return;
    }
    ComparePatchSizes(pair, patch, work);
    CompareApplying(pair, patch, work);
    fs::remove_all(work);
}

// A game of kGameFiles record files; its second version rewrites 10 % of every other file.
void WriteGame(const fs::path& dir, bool second)
{
    for (std::uint32_t file = 0; file < kGameFiles; ++file) {
        char name[32];
        std::snprintf(name, sizeof name, "data/zone%03u.dat", file);
        WriteRecords(dir / name, kGameFileSize, file, second && file % 2 == 0 ? 10 : 0);
    }
}

// An installation of the game's first version with the program and its settings.
fs::path FirstVersionInstalled(const fs::path& game, const fs::path& scratch, const Nginx& nginx)
{
    const fs::path install = scratch / "install";
    fs::remove_all(install);
    fs::copy(game, install, fs::copy_options::recursive);
    fs::copy_file(KESU_EXE, install / "KesuUpdate.exe");
    std::ofstream(install / "pirvex.dll") << "[Download]\nsite1=127.0.0.1:" << nginx.Port()
                                          << "\n[Setup]\nTempDir=tmp\n";
    return install;
}

struct ReleaseRun {
    std::uint64_t bytesSent = 0;
    double seconds = 0;
};

// The program brings an installation of the first version up to the tree under `site`.
ReleaseRun UpdateFrom(const fs::path& site, const fs::path& firstVersion, const fs::path& secondVersion,
                      const fs::path& scratch)
{
    for (const fs::path& dir : {site, site / "update"})
        ::chmod(dir.c_str(), 0755);
    Nginx nginx(site.string(), "    keepalive_requests 100000;\n");
    const fs::path install = FirstVersionInstalled(firstVersion, scratch, nginx);
    ::sync();
    const double seconds =
        RunChild("cd " + Quoted(install) + " && env -u DISPLAY ./KesuUpdate.exe update.dat 1 2 2>/dev/null").seconds;
    const std::uint64_t sent = nginx.BodyBytesSent();
    for (const auto& entry : fs::recursive_directory_iterator(secondVersion)) {
        const fs::path installed = install / entry.path().lexically_relative(secondVersion);
        if (entry.is_regular_file() && Md5Of(installed) != Md5Of(entry.path()))
            std::printf("  %s was not updated\n", installed.c_str());
    }
    fs::remove_all(install);
    return {sent, seconds};
}

void CompareRelease(const fs::path& scratch)
{
    const fs::path first = scratch / "game-v1", second = scratch / "game-v2";
    WriteGame(first, false);
    WriteGame(second, true);
    const std::string publish = "'" KESU_PUBLISH "' ";
    fs::remove_all(scratch / "patched");
    fs::remove_all(scratch / "whole");
    Shell(publish + Quoted(first) + " " + Quoted(scratch / "patched" / "update") + " > /dev/null");
    Shell(publish + "--previous " + Quoted(first) + " " + Quoted(second) + " " +
          Quoted(scratch / "patched" / "update") + " > /dev/null");
    Shell(publish + Quoted(second) + " " + Quoted(scratch / "whole" / "update") + " > /dev/null");
    const ReleaseRun patched = UpdateFrom(scratch / "patched", first, second, scratch);
    const ReleaseRun whole = UpdateFrom(scratch / "whole", first, second, scratch);
    std::printf("a 200 MB release with 5 %% of its bytes changed, KesuUpdate.exe from nginx: with patches %.2f MB "
                "sent (%.2f s), without %.2f MB (%.2f s); bytes ratio %.3f (target <= 0.10)\n",
                patched.bytesSent / 1e6, patched.seconds, whole.bytesSent / 1e6, whole.seconds,
                static_cast<double>(patched.bytesSent) / static_cast<double>(whole.bytesSent));
    std::fflush(stdout);
    fs::remove_all(scratch / "patched");
    fs::remove_all(scratch / "whole");
}

}  // namespace

int main(int argc, char** argv)
{
    const fs::path scratch = fs::absolute(argc > 1 ? argv[1] : "delta-bench-data");
    std::printf("preparing %s ...\n", scratch.c_str());
    std::fflush(stdout);
    const fs::path oldProgram = OldProgram(scratch);
    fs::create_directories(scratch / "program-new");
    fs::copy_file(KESU_EXE, scratch / "program-new" / "KesuUpdate.exe", fs::copy_options::overwrite_existing);
    const Pair program{"KesuUpdate.exe, " + std::string(kOldCommit) + " to now", oldProgram.parent_path(),
                       scratch / "program-new", "KesuUpdate.exe"};
    WriteRecords(scratch / "records-v1" / "world.dat", kRecordFileSize, 0, 0);
    WriteRecords(scratch / "records-v2" / "world.dat", kRecordFileSize, 0, 1);
    const Pair records{"200 MB of records, 1 % rewritten", scratch / "records-v1", scratch / "records-v2", "world.dat"};
    for (const Pair& pair : {program, records})
        ComparePair(pair, scratch / "work");
    CompareRelease(scratch);
    return 0;
}
