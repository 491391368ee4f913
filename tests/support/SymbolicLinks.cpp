#include "tests/support/SymbolicLinks.h"

#include <system_error>

bool SymbolicLinksCanBeMade(const std::filesystem::path& directory)
{
    const std::filesystem::path probe = directory / "symbolic-link-probe";
    std::error_code error;
    std::filesystem::create_symlink("target", probe, error);
    if (error)
        return false;
    std::filesystem::remove(probe, error);
    return true;
}
