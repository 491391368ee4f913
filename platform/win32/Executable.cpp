#include "platform/Executable.h"

#include <cstdint>
#include <cstring>

#include "platform/Descriptor.h"
#include "platform/win32/Wide.h"

namespace {

constexpr std::size_t kNewHeaderOffset = 0x3C;  // where the MZ header keeps the PE header's place
constexpr std::uint16_t kPe32PlusMagic = 0x20B;

template <typename Number>
Number NumberAt(std::string_view head, std::size_t at)
{
    Number value{};
    std::memcpy(&value, head.data() + at, sizeof value);
    return value;
}

// The identity of a PE32+ program from its first bytes: its machine and the optional header's
// magic; nothing when it is none (a DLL included).
std::optional<std::string> PeIdentity(std::string_view head)
{
    if (head.size() < kNewHeaderOffset + 4 || !head.starts_with("MZ"))
        return std::nullopt;
    const std::size_t pe = NumberAt<std::uint32_t>(head, kNewHeaderOffset);
    const std::size_t magicAt = pe + 4 + sizeof(IMAGE_FILE_HEADER);
    if (pe > head.size() || head.size() - pe < 4 + sizeof(IMAGE_FILE_HEADER) + 2 ||
        head.substr(pe, 4) != std::string_view("PE\0\0", 4))
        return std::nullopt;
    const auto file = NumberAt<IMAGE_FILE_HEADER>(head, pe + 4);
    const bool program = (file.Characteristics & IMAGE_FILE_EXECUTABLE_IMAGE) && !(file.Characteristics & IMAGE_FILE_DLL);
    if (!program || NumberAt<std::uint16_t>(head, magicAt) != kPe32PlusMagic)
        return std::nullopt;
    return std::string(head.substr(pe + 4, sizeof file.Machine)) + std::string(head.substr(magicAt, 2));
}

std::string FileHead(const std::string& path)
{
    std::string head(kExecutableHeadSize, '\0');
    const int fd = OpenForReading(path);
    const std::int64_t got = fd < 0 ? 0 : ReadDescriptor(fd, head.data(), head.size());
    if (fd >= 0)
        CloseDescriptor(fd);
    head.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return head;
}

// The running program's headers, as the system mapped them: the first page of its image.
std::string_view RunningHead()
{
    return {reinterpret_cast<const char*>(::GetModuleHandleW(nullptr)), kExecutableHeadSize};
}

}  // namespace

std::optional<std::string> NotAnExecutableForThisMachine(const std::string& strPath)
{
    return NotAnExecutableHeadForThisMachine(FileHead(strPath));
}

std::optional<std::string> NotAnExecutableHeadForThisMachine(std::string_view head)
{
    const std::optional<std::string> identity = PeIdentity(head);
    if (!identity)
        return "it is not an executable program";
    if (identity != PeIdentity(RunningHead()))
        return "it is a program for another kind of machine";
    return std::nullopt;
}
