// Fuzzes the command-line parse: every line is accepted, the manifest name always ends in
// ".xml" (or is the default), and package mode follows "-install" exactly.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "app/CommandLine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view line(reinterpret_cast<const char*>(data), size);
    CommandLine parsed = ParseCommandLine(line, "update.xml");
    if (!parsed.strManifestName.ends_with(".xml"))
        std::abort();
    if (parsed.bManifestMode != (line.find("-install") == std::string_view::npos ? 1 : 0))
        std::abort();
    if (line.empty() && (parsed.nLobbyParam1 != -1 || parsed.nLobbyParam2 != -1))
        std::abort();
    return 0;
}
