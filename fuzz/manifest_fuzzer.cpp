// Fuzzes the manifest text: the page-not-found test, the XML parse, the attribute conversions,
// the name checks and the queueing, against an empty installation directory.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "manifest/ParseManifest.h"
#include "platform/Path.h"

namespace {

const std::string& InstallDir()
{
    static const std::string dir = [] {
        char pattern[] = "/tmp/kesu-fuzz-XXXXXX";
        return std::string(::mkdtemp(pattern)) + "/";
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const ManifestFindings findings = ParseManifestText(InstallDir(), std::string(reinterpret_cast<const char*>(data), size));
    if (findings.bFetch && findings.files.empty())
        std::abort();  // files to fetch are listed
    for (const ChangedFile& file : findings.files)
        if (!IsContainedRelativePath(file.strName))
            std::abort();  // nothing outside the installation directory is ever listed
    return 0;
}
