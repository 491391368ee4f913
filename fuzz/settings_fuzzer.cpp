// Fuzzes the settings file: any bytes as the file, read as the program reads its keys. A value
// is one line: it never holds a line break.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "platform/Profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = "/tmp/kesu-settings-fuzz-" + std::to_string(::getpid()) + ".ini";
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                 static_cast<std::streamsize>(size));
    for (auto [section, key] : {std::pair{"Download", "site1"}, std::pair{"Setup", "TempDir"},
                                std::pair{"DownUrl", "WebUrl"}, std::pair{"messages", "ErrorMsg"}}) {
        std::string value = GetPrivateProfileString(section, key, "<default>", path);
        if (value.find('\n') != std::string::npos)
            std::abort();
    }
    return 0;
}
