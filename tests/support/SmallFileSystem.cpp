#include "tests/support/SmallFileSystem.h"

#include <cstdlib>

SmallFileSystem::SmallFileSystem(const std::filesystem::path& directory, const std::string& size) : m_directory(directory)
{
    std::filesystem::create_directories(directory);
    const std::string mount = "mount -t tmpfs -o size=" + size + " tmpfs '" + directory.string() + "' 2>/dev/null";
    m_mounted = std::system(mount.c_str()) == 0;
}

SmallFileSystem::~SmallFileSystem()
{
    if (m_mounted)
        std::system(("umount '" + m_directory.string() + "'").c_str());
}
