#include "tests/support/SmallFileSystem.h"

#include "tests/support/RunTool.h"

// Through RunTool, so that the Windows tests under Wine mount one too: the Linux machine's mount,
// over the Unix name of the directory.
SmallFileSystem::SmallFileSystem(const std::filesystem::path& directory, const std::string& size) : m_directory(directory)
{
    std::filesystem::create_directories(directory);
    m_mounted = RunTool(directory.parent_path(), "mount",
                        {"-t", "tmpfs", "-o", "size=" + size, "tmpfs", directory.string()}).status == 0;
}

SmallFileSystem::~SmallFileSystem()
{
    if (m_mounted)
        RunTool(m_directory.parent_path(), "umount", {m_directory.string()});
}
