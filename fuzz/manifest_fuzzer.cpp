// Fuzzes the manifest's reader: the XML parse, the attribute conversions, the name checks and the
// patches and modes of every entry.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "manifest/ManifestReader.h"
#include "platform/Path.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const ManifestListing listing = ReadManifest(std::string(reinterpret_cast<const char*>(data), size));
    if (!listing.bIsManifest && (!listing.entries.empty() || listing.rejection))
        std::abort();  // a text that is no manifest lists nothing
    for (const ManifestEntry& entry : listing.entries) {
        if (entry.strName.empty() || !IsContainedRelativePath(entry.strName))
            std::abort();  // nothing outside the installation directory is ever listed
        if (std::optional<unsigned> mode = EntryMode(entry); mode && *mode > 0777)
            std::abort();
        for (const PatchOffer& offer : entry.patches)
            if (!IsContainedRelativePath(offer.source.strName))
                std::abort();  // nor is a patch asked for outside the tree
    }
    return 0;
}
