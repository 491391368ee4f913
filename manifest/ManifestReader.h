#pragma once
// The manifest's format, read: the bytes a server sent in, the files they list out. Nothing here
// touches the disk or the network; which listed files are to be fetched is the check of the
// installed files' to say. Any thread may read a text; nothing is shared.
//
// Names are taken as Windows stores them, without the dots and blanks their parts end in
// ("readme." is readme): the file is checked and installed under that name on every system, and
// fetched under the name listed, which is the server's. Two spellings of one file (names that
// differ in letter case, or in those dots and blanks: one file on Windows) are one entry, the
// first, when both give the same size and digests; the second is said in the log.
//
// Errors: a text that is no manifest (not well-formed XML, or another root) comes back as such,
// with the cause for the log; an entry that cannot be used (a missing attribute, a size that is
// no number below 4 GiB, a name that leads out of the installation, a name Windows cannot hold
// (a device, a ':', a part that would be left empty...), or another spelling of an earlier
// entry's file with another size or digest: the manifest contradicts itself) ends the list
// there, and the entries before it stay. A patch element or a mode that cannot be used is passed
// over and said in the log.

#include <optional>
#include <string>
#include <vector>

#include "release/ExpectedFile.h"
#include "sentences/Failure.h"

// A patch an entry offers: the digest of the earlier version it applies to, and the patch.
struct PatchOffer {
    std::string strFrom;  // normalised (see NormalizedDigest)
    tagPatchSource source;
};

// A listed file. Its mode and its patches matter only for a file that proves to be one to
// download: they are kept as they stand until then (see EntryMode and PatchFrom).
struct ManifestEntry {
    std::string strName;        // as Windows stores it (WindowsStoredName): where it is checked and installed
    std::string strListedName;  // as listed, without leading separators: the server holds the file under it
    tagExpectedFile expected;   // its size and digests; no mode or patch yet
    std::optional<std::string> modeText;
    std::vector<PatchOffer> patches = {};
};

struct ManifestListing {
    bool bIsManifest = false;
    std::string strNotAManifest;  // why the text is no manifest, for the log
    // In document order, up to the first entry that cannot be used; "Reg.Local" is passed over, and
    // so is a second spelling of a file listed before (with the patches that follow it).
    std::vector<ManifestEntry> entries;
    // Where the list ended early: the player's sentence names the entry as the player may
    // recognise it (its name, or its number when it has none) and, where the fault is one to
    // name, why; the cause, for the log, names its number and name. Nothing is logged here.
    std::optional<Failure> rejection;
};

ManifestListing ReadManifest(const std::string& strText);

// The permission bits the entry's "mode" gives (octal digits up to 777). Any other value is
// passed over, and said in the log: the file is installed as if its entry had none.
std::optional<unsigned> EntryMode(const ManifestEntry& entry);

// The patch the entry offers from the installed version (by its digest), when it offers one.
std::optional<tagPatchSource> PatchFrom(const ManifestEntry& entry, const std::string& strInstalledDigest);
