#pragma once
// A fresh directory under the system's temporary directory, removed with everything in it.

#include <filesystem>
#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    // The directory's path with a trailing separator, as the program keeps directories.
    std::string Dir() const { return m_path.string() + "/"; }
    std::string Write(const std::string& name, const std::string& contents) const;

private:
    std::filesystem::path m_path;
};

std::string ReadWholeFile(const std::filesystem::path& path);
