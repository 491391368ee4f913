#pragma once
// What every benchmark needs: timing, running the reference tools, making data, reading memory.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

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
// The process's peak resident memory so far (VmHWM).
long PeakKilobytes();
