#include "bench/BenchSupport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

double Seconds(const std::function<void()>& work, bool syncFirst)
{
    if (syncFirst)
        ::sync();
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Shell(const std::string& command)
{
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
}

void WriteRandomFile(const std::filesystem::path& path, std::uintmax_t size, std::uint64_t seed)
{
    if (std::filesystem::exists(path) && std::filesystem::file_size(path) == size)
        return;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    std::vector<std::uint64_t> block(8192);
    for (std::uintmax_t written = 0; written < size; written += block.size() * 8) {
        for (auto& word : block) {
            seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
            word = seed;
        }
        out.write(reinterpret_cast<const char*>(block.data()),
                  static_cast<std::streamsize>(std::min<std::uintmax_t>(block.size() * 8, size - written)));
    }
}

long PeakKilobytes()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmHWM:"))
            return std::atol(line.c_str() + 6);
    return -1;
}

void WriteBenchManifest(const std::filesystem::path& path, int entries, const std::string& extraAttributes)
{
    std::ofstream out(path);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?><manifest><filelist>\n";
    for (int i = 0; i < entries; ++i)
        out << "<file filename=\"data\\file" << i << ".dat\" filesize=\"" << 1000 + i % 5000
            << "\" fileversion=\"1.0\" md5=\"900150983cd24fb0d6963f7d28e17f72\"" << extraAttributes << "/>\n";
    out << "</filelist></manifest>\n";
}

ChildRun RunChild(const std::string& command)
{
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
    // ru_maxrss of a waited-for child is the largest of it and its own waited-for children.
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), usage.ru_maxrss};
}

ChildRun RunInChild(const std::function<bool()>& work)
{
    std::fflush(stdout);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        bool done = false;
        try {
            done = work();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
        }
        std::fflush(stdout);
        ::_exit(done ? 0 : 1);
    }
    int status = 0;
    struct rusage usage {};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "failed: the work of a child\n");
        std::exit(1);
    }
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), usage.ru_maxrss};
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
