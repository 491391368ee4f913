#include "platform/Executable.h"

#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

#include "platform/Path.h"

namespace {

// The identity of an ELF program from its first bytes: its class, byte order and machine;
// nothing when it is none.
std::optional<std::string> ElfIdentity(std::string_view head)
{
    Elf64_Ehdr header{};  // the fields compared sit at the same places in 32-bit headers
    if (head.size() < sizeof(Elf32_Ehdr))
        return std::nullopt;
    std::memcpy(&header, head.data(), std::min(head.size(), sizeof header));
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || (header.e_type != ET_EXEC && header.e_type != ET_DYN))
        return std::nullopt;
    std::string identity(reinterpret_cast<const char*>(header.e_ident) + EI_CLASS, 3);  // class, data, version
    identity.append(reinterpret_cast<const char*>(&header.e_machine), sizeof header.e_machine);
    return identity;
}

std::string FileHead(const std::string& nativePath)
{
    std::string head(kExecutableHeadSize, '\0');
    const int fd = ::open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    const ssize_t got = fd < 0 ? 0 : ::read(fd, head.data(), head.size());
    if (fd >= 0)
        ::close(fd);
    head.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return head;
}

}  // namespace

std::optional<std::string> NotAnExecutableForThisMachine(const std::string& strPath)
{
    return NotAnExecutableHeadForThisMachine(FileHead(ToNativePath(strPath)));
}

std::optional<std::string> NotAnExecutableHeadForThisMachine(std::string_view head)
{
    const std::optional<std::string> identity = ElfIdentity(head);
    if (!identity)
        return "it is not an executable program";
    if (identity != ElfIdentity(FileHead("/proc/self/exe")))
        return "it is a program for another kind of machine";
    return std::nullopt;
}
