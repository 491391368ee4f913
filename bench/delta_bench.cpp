// Patches against the reference tools, measured in the same run, on real pairs of files:
//   - program: KesuUpdate.exe built at commit 4238ad3, forty-odd commits back (built once in a
//     scratch worktree, then kept in the scratch directory), and the current build;
//   - records: a 200 MB file of game records and a copy with 1 % of its records rewritten here
//     and there;
//   - big: the same made 3 GiB long, beyond what a patch reaches back.
// For each pair: what kesu-publish pays, in time and peak memory, to publish the new file with a
// patch from the old one, against without, and what a rerun over the same tree pays (its patch
// taken from the tree's record); the size of that patch against `zstd -19 --long=31
// --patch-from` (and `xdelta3 -9 -e -s`) but for the big pair; and the time ApplyPatch takes
// against `zstd -d --long=31 --patch-from` on the same patch (medians of three). For the big pair,
// which kesu-publish gives no patch, a patch is made here all the same, with the whole old file as
// its prefix, to see what comes of it and whether ApplyPatch and zstd apply it.
// Last, release: a game of 100 record files of 2 MB, its next version with 10 % of the records
// of every other file rewritten (5 % of its bytes), published with patches from the first version
// and without; KesuUpdate.exe updates an installation of the first version from nginx, and the
// bytes nginx sent are compared.
//
//   delta_bench [scratch directory] [program|records|big|release ...]
//     (default: build/bench-data/delta, where the data stay for the next run; all four)

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "bench/BenchSupport.h"
#include "delta/ApplyPatch.h"
#include "delta/MakePatch.h"
#include "digest/MD5Checksum.h"
#include "platform/AtomicFile.h"
#include "platform/MappedFile.h"
#include "tests/support/Nginx.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kOldCommit = "4238ad3";
constexpr std::uint64_t kRecordFileSize = 200'000'000;
constexpr std::uint64_t kBigRecordFileSize = 3ull << 30;
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

// One file in two builds, at the same name in each, and what publishing its patch should cost.
struct Pair {
    std::string what;
    fs::path oldBuild, newBuild;
    std::string name;
    std::string timeGoal, memoryGoal;  // printed beside the figures; empty: none
    bool withReference = true;         // measure zstd -19 and xdelta3 on it (hours for GBs)
    fs::path Old() const { return oldBuild / name; }
    fs::path New() const { return newBuild / name; }
};

std::string Goal(const std::string& goal)
{
    return goal.empty() ? std::string() : " (goal " + goal + ")";
}

// What kesu-publish printed about the file's patches: its lines after the file's own.
std::string PatchLines(const fs::path& output)
{
    std::ifstream in(output);
    std::string lines;
    for (std::string line; std::getline(in, line);)
        if (line.find("patch") != std::string::npos && line.find(" files, ") == std::string::npos)
            lines += "  kesu-publish: " + line.substr(line.find_first_not_of(' ')) + "\n";
    return lines;
}

fs::path OnlyPatchIn(const fs::path& tree)
{
    for (const auto& entry : fs::directory_iterator(tree / "patches"))
        if (entry.path().extension() == ".zst")
            return entry.path();
    return {};
}

// kesu-publish on the new build, without and with a patch from the old one, then again with it
// over its own tree: what each costs, and the patch it wrote, or an empty path when it kept none.
fs::path PublishPatch(const Pair& pair, const fs::path& work)
{
    const std::string publish = "'" KESU_PUBLISH "' ";
    fs::remove_all(work / "plain");
    fs::remove_all(work / "tree");
    ::sync();
    const ChildRun plain = RunChild(publish + Quoted(pair.newBuild) + " " + Quoted(work / "plain") + " > /dev/null");
    fs::remove_all(work / "plain");
    ::sync();
    const std::string patching = publish + "--previous " + Quoted(pair.oldBuild) + " " + Quoted(pair.newBuild) + " " +
                                 Quoted(work / "tree") + " > " + Quoted(work / "publish.txt");
    const ChildRun patched = RunChild(patching);
    const double together = static_cast<double>(fs::file_size(pair.Old()) + fs::file_size(pair.New())) / (1 << 20);
    std::printf("%s, kesu-publish --previous: %.1f s%s, peak %ld MB = %.2f x (old + new)%s; without --previous "
                "%.1f s, peak %ld MB\n%s",
                pair.what.c_str(), patched.seconds, Goal(pair.timeGoal).c_str(), patched.peakKilobytes / 1024,
                patched.peakKilobytes / 1024.0 / together, Goal(pair.memoryGoal).c_str(), plain.seconds,
                plain.peakKilobytes / 1024, PatchLines(work / "publish.txt").c_str());
    std::fflush(stdout);
    const fs::path patch = fs::is_directory(work / "tree" / "patches") ? OnlyPatchIn(work / "tree") : fs::path();
    struct stat before {};
    ::stat(patch.c_str(), &before);
    ::sync();
    const ChildRun rerun = RunChild(patching);
    struct stat after {};
    ::stat(patch.c_str(), &after);
    const bool untouched = before.st_ino == after.st_ino && before.st_mtim.tv_nsec == after.st_mtim.tv_nsec &&
                           before.st_mtim.tv_sec == after.st_mtim.tv_sec;
    std::printf("%s, rerun over its own tree: %.1f s, peak %ld MB; %s (goal: reused, not made again)\n%s",
                pair.what.c_str(), rerun.seconds, rerun.peakKilobytes / 1024,
                patch.empty() ? "no patch either time" : untouched ? "the patch file untouched" : "the patch was WRITTEN AGAIN",
                PatchLines(work / "publish.txt").c_str());
    std::fflush(stdout);
    return patch;
}

void ComparePatchSizes(const Pair& pair, const fs::path& ours, const fs::path& work)
{
    if (!pair.withReference) {
        std::printf("%s, patch: %ju bytes; zstd -19 --long=31 --patch-from not measured (level 19 takes hours on "
                    "files this size)\n",
                    pair.what.c_str(), fs::file_size(ours));
        return;
    }
    const fs::path zstd = work / "zstd.zst", xdelta = work / "xdelta.vcdiff";
    const double zstdMaking = RunChild("zstd -q -f -19 --long=31 --patch-from=" + Quoted(pair.Old()) + " " +
                                       Quoted(pair.New()) + " -o " + Quoted(zstd) + " 2>/dev/null")
                                  .seconds;
    const double xdeltaMaking =
        RunChild("xdelta3 -q -f -9 -e -s " + Quoted(pair.Old()) + " " + Quoted(pair.New()) + " " + Quoted(xdelta))
            .seconds;
    std::printf("%s, patch: kesu-publish %ju bytes; zstd -19 --long=31 --patch-from %ju bytes (%.1f s); "
                "xdelta3 -9 -e -s %ju bytes (%.1f s); against level 19 %.3f (goal <= 1.15)\n",
                pair.what.c_str(), fs::file_size(ours), fs::file_size(zstd), zstdMaking, fs::file_size(xdelta),
                xdeltaMaking, static_cast<double>(fs::file_size(ours)) / static_cast<double>(fs::file_size(zstd)));
    std::fflush(stdout);
}

std::string ZstdApplying(const Pair& pair, const fs::path& patch, const fs::path& made)
{
    return "zstd -q -f -d --long=31 --patch-from=" + Quoted(pair.Old()) + " " + Quoted(patch) + " -o " +
           Quoted(made) + " 2>/dev/null";
}

// Whether `zstd -d --long=31 --patch-from` makes the new file from the patch.
bool ZstdApplies(const Pair& pair, const fs::path& patch, const fs::path& made)
{
    fs::remove(made);
    return std::system(ZstdApplying(pair, patch, made).c_str()) == 0 && Md5Of(made) == Md5Of(pair.New());
}

void CompareApplying(const Pair& pair, const fs::path& patch, const fs::path& work, int rounds)
{
    const fs::path made = work / "made", madeByZstd = work / "made-by-zstd";
    const std::uint64_t size = fs::file_size(pair.New());
    std::vector<double> ours, zstd;
    std::optional<std::string> failure;
    bool zstdFailed = false;
    for (int round = 0; round < rounds; ++round) {
        fs::remove(made);
        ours.push_back(
            Seconds([&] { failure = ApplyPatch(pair.Old().string(), patch.string(), made.string(), size); }, true));
        fs::remove(madeByZstd);
        zstd.push_back(Seconds(
            [&] { zstdFailed = std::system(ZstdApplying(pair, patch, madeByZstd).c_str()) != 0 || zstdFailed; },
            true));
    }
    const std::string expected = Md5Of(pair.New());
    if (failure || Md5Of(made) != expected)
        std::printf("  ApplyPatch did not make the new file: %s\n", failure.value_or("its digest differs").c_str());
    if (zstdFailed || Md5Of(madeByZstd) != expected)
        std::printf("  zstd -d --long=31 --patch-from did not make the new file\n");
    std::printf("%s, apply: ApplyPatch %.3f s; zstd -d --long=31 --patch-from %.3f s; time ratio %.2f"
                " (target <= 1.2)\n",
                pair.what.c_str(), Median(ours), Median(zstd), Median(ours) / Median(zstd));
    std::fflush(stdout);
    fs::remove(made);
    fs::remove(madeByZstd);
}

void ComparePair(const Pair& pair, const fs::path& work)
{
    fs::remove_all(work);
    fs::create_directories(work);
    const fs::path patch = PublishPatch(pair, work);
    if (patch.empty()) {
        std::printf("%s: kesu-publish kept no patch\n", pair.what.c_str());
        fs::remove_all(work);
        return;
    }
    ComparePatchSizes(pair, patch, work);
    CompareApplying(pair, patch, work, pair.withReference ? kRounds : 1);
    fs::remove_all(work);
}

// The heap ApplyPatch takes at its peak, as heaptrack measures it, this program applying the
// patch on its own (see main).
std::string PeakHeapApplying(const Pair& pair, const fs::path& patch, const fs::path& work)
{
    if (std::system("command -v heaptrack > /dev/null && command -v heaptrack_print > /dev/null") != 0)
        return "heap not measured (no heaptrack)";
    const fs::path self = fs::read_symlink("/proc/self/exe"), made = work / "made-under-heaptrack";
    RunChild("heaptrack -o " + Quoted(work / "heap") + " " + Quoted(self) + " --apply " + Quoted(pair.Old()) + " " +
             Quoted(patch) + " " + Quoted(made) + " " + std::to_string(fs::file_size(pair.New())) + " > /dev/null 2>&1");
    fs::remove(made);
    const fs::path peak = work / "heap-peak.txt";
    Shell("heaptrack_print " + Quoted(work / "heap.zst") + " | grep 'peak heap memory consumption' > " + Quoted(peak));
    std::string line;
    std::getline(std::ifstream(peak) >> std::ws, line);
    return "heaptrack: " + line;
}

// What kesu-publish refuses to do: a patch with an old file beyond a window's reach as its prefix,
// made here all the same, then applied by ApplyPatch and by zstd.
void BeyondReach(const Pair& pair, const fs::path& work)
{
    fs::remove_all(work);
    fs::create_directories(work);
    const fs::path patch = work / "beyond-reach.zst";
    const std::uint64_t newSize = fs::file_size(pair.New());
    const ChildRun making = RunInChild([&] {
        const CMappedFile old = CMappedFile::Read(pair.Old().string());
        const CMappedFile current = CMappedFile::Read(pair.New().string());
        CAtomicFile output(patch.string());
        // At level 12, the fastest good one: the question is what comes of it, not how small.
        MakePatch({old.Data(), old.Size()}, {current.Data(), current.Size()}, {12}, [&](const char* data, std::size_t n) {
            output.Write(data, n);
            return true;
        });
        output.Commit(false);
        return true;
    });
    std::printf("%s, a patch made anyway at level 12 with the whole old file as its prefix: %ju bytes (%.1f %% of the file), "
                "%.1f s, peak %ld MB\n",
                pair.what.c_str(), fs::file_size(patch), 100.0 * fs::file_size(patch) / newSize, making.seconds,
                making.peakKilobytes / 1024);
    std::fflush(stdout);
    const fs::path made = work / "made";
    std::optional<std::string> failure;
    const double applying =
        Seconds([&] { failure = ApplyPatch(pair.Old().string(), patch.string(), made.string(), newSize); }, true);
    const bool right = !failure && Md5Of(made) == Md5Of(pair.New());
    fs::remove(made);
    const bool zstdRight = ZstdApplies(pair, patch, made);
    std::printf("  ApplyPatch: %s (%.1f s), %s; zstd -d --long=31 --patch-from: %s\n",
                right ? "the new file, byte for byte" : failure.value_or("a file of another digest").c_str(), applying,
                PeakHeapApplying(pair, patch, work).c_str(),
                zstdRight ? "the new file, byte for byte" : "FAILED or another file");
    std::fflush(stdout);
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
    if (argc == 6 && std::string(argv[1]) == "--apply")  // delta_bench --apply OLD PATCH OUT SIZE
        return ApplyPatch(argv[2], argv[3], argv[4], std::strtoull(argv[5], nullptr, 10)) ? 1 : 0;
    const fs::path scratch = fs::absolute(argc > 1 ? argv[1] : KESU_BENCH_DATA);
    std::set<std::string> chosen(argv + std::min(argc, 2), argv + argc);
    if (chosen.empty())
        chosen = {"program", "records", "big", "release"};
    std::printf("preparing %s ...\n", scratch.c_str());
    std::fflush(stdout);
    if (chosen.contains("program")) {
        const fs::path oldProgram = OldProgram(scratch);
        fs::create_directories(scratch / "program-new");
        fs::copy_file(KESU_EXE, scratch / "program-new" / "KesuUpdate.exe", fs::copy_options::overwrite_existing);
        ComparePair({"KesuUpdate.exe, " + std::string(kOldCommit) + " to now", oldProgram.parent_path(),
                     scratch / "program-new", "KesuUpdate.exe", "", "", true},
                    scratch / "work");
    }
    if (chosen.contains("records")) {
        WriteRecords(scratch / "records-v1" / "world.dat", kRecordFileSize, 0, 0);
        WriteRecords(scratch / "records-v2" / "world.dat", kRecordFileSize, 0, 1);
        const double goal = 1.5 * 2 * kRecordFileSize / (1 << 20);
        ComparePair({"200 MB of records, 1 % rewritten", scratch / "records-v1", scratch / "records-v2", "world.dat",
                     "<= 60 s", "<= 1.5 x (old + new) = " + std::to_string(static_cast<int>(goal)) + " MB"},
                    scratch / "work");
    }
    if (chosen.contains("big")) {
        std::printf("writing the 3 GiB pair (once) ...\n");
        std::fflush(stdout);
        WriteRecords(scratch / "big-v1" / "world.dat", kBigRecordFileSize, 0, 0);
        WriteRecords(scratch / "big-v2" / "world.dat", kBigRecordFileSize, 0, 1);
        const Pair big{"3 GiB of records, 1 % rewritten", scratch / "big-v1", scratch / "big-v2", "world.dat", "",
                       "bounded: below 6.1 GiB for any file, see the README", false};
        ComparePair(big, scratch / "work");
        BeyondReach(big, scratch / "work");
    }
    if (chosen.contains("release"))
        CompareRelease(scratch);
    return 0;
}
