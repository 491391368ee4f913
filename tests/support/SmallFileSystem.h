#pragma once
// A small file system (tmpfs) mounted over a directory for as long as the object lives: another
// disk for the tests of what crosses file systems. Mounting needs root; Mounted() says whether it
// worked.

#include <filesystem>
#include <string>

class SmallFileSystem {
public:
    SmallFileSystem(const std::filesystem::path& directory, const std::string& size);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool Mounted() const { return m_mounted; }

private:
    std::filesystem::path m_directory;
    bool m_mounted = false;
};
