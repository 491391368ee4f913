#pragma once
// What every benchmark needs: timing, running the reference tools, making data, reading memory.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// Seconds the work takes. With `syncFirst`, dirty pages are written out before the clock starts,
// so that no measurement pays for the writeback of the one before.
double Seconds(const std::function<void()>& work, bool syncFirst = false);
// Runs a shell command; a failing command ends the benchmark.
void Shell(const std::string& command);
// Writes `size` pseudo-random bytes from the seed, unless the file already has that size.
void WriteRandomFile(const std::filesystem::path& path, std::uintmax_t size, std::uint64_t seed);
// A manifest of `entries` files data\\file<N>.dat that nothing downloads; each entry carries the
// extra attributes given (" sha256=...").
void WriteBenchManifest(const std::filesystem::path& path, int entries, const std::string& extraAttributes = "");
// A shell command run as a child process: how long it took and the most memory any one process
// of it held (its peak resident set). A failing command ends the benchmark.
struct ChildRun {
    double seconds = 0;
    long peakKilobytes = 0;
};
ChildRun RunChild(const std::string& command);
// The same for work of this program, done in a forked child; a failing child (an exception, a
// false return) ends the benchmark.
ChildRun RunInChild(const std::function<bool()>& work);
// The median of the values (the upper one of an even count).
double Median(std::vector<double> values);
// The process's peak resident memory so far (VmHWM).
long PeakKilobytes();
