// Fuzzes the manifest text: the page-not-found test, the XML parse, the attribute conversions,
// the name checks and the queueing, against an empty installation directory.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "download/DownloadMgr.h"
#include "manifest/ParseManifest.h"
#include "platform/Path.h"

namespace {

class QueueOnlyMgr : public CDownloadMgr {
public:
    int Install() override { return 0; }
};

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
    QueueOnlyMgr mgr;
    std::uint64_t total = 0;
    ManifestTarget target{InstallDir(), total, mgr};
    bool queued = ParseManifestText(target, std::string(reinterpret_cast<const char*>(data), size));
    if (queued && mgr.m_arrTasks.empty())
        std::abort();  // a true result promises queued files
    for (const auto& task : mgr.m_arrTasks)
        if (!IsContainedRelativePath(task->szName))
            std::abort();  // nothing outside the installation directory is ever queued
    return 0;
}
