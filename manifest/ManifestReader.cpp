#include "manifest/ManifestReader.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "platform/Log.h"
#include "platform/Path.h"
#include "platform/WindowsName.h"
#include "platform/XmlReader.h"
#include "sentences/Sentences.h"

namespace {

// Ends the list at an entry that cannot be used; the cause is for the log.
struct ManifestRejected {
    std::string strCause;
    std::string strReason = {};  // for the player, when the fault is one to name
};

std::string ReadAttribute(const CXmlAttributes& element, const char* name)
{
    std::optional<std::string> value = element.Get(name);
    if (!value)
        throw ManifestRejected{std::string("it has no ") + name + " attribute"};
    return *value;
}

// A decimal number that fits 32 bits unsigned, with blanks around it allowed.
std::uint32_t ParseFileSize(std::string_view text)
{
    auto first = text.find_first_not_of(" \t\r\n");
    auto last = text.find_last_not_of(" \t\r\n");
    const auto notASize = [text] {
        return ManifestRejected{"its filesize \"" + std::string(text) + "\" is not a number of bytes below 4 GiB"};
    };
    if (first == std::string_view::npos)
        throw notASize();
    std::uint64_t value = 0;
    for (char c : text.substr(first, last - first + 1)) {
        if (c < '0' || c > '9')
            throw notASize();
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 0xFFFFFFFFu)
            throw notASize();
    }
    return static_cast<std::uint32_t>(value);
}

// A patch element as the download would need it; one that cannot be used is passed over, and
// its file is fetched whole.
std::optional<PatchOffer> ReadPatch(const std::string& filename, const CXmlAttributes& patch)
{
    try {
        PatchOffer offer{NormalizedDigest(ReadAttribute(patch, "from")),
                         {ReadAttribute(patch, "filename"), ParseFileSize(ReadAttribute(patch, "filesize")),
                          ReadAttribute(patch, "md5"), patch.Get("sha256").value_or("")}};
        if (IsContainedRelativePath(offer.source.strName))
            return offer;
    } catch (const ManifestRejected&) {
    }
    LogLine(filename + ": a patch element that cannot be used is passed over");
    return std::nullopt;
}

// A name is joined to the installation directory, which ends in a separator: leading separators
// name the same file as none ("\data\town.dat" is "data\town.dat").
std::string WithoutLeadingSeparators(std::string name)
{
    return name.erase(0, std::min(name.size(), name.find_first_not_of("\\/")));
}

// The entry as the download will need it. Throws ManifestRejected when it cannot be used.
ManifestEntry ReadEntry(const CXmlAttributes& file)
{
    std::string filename = WithoutLeadingSeparators(ReadAttribute(file, "filename"));
    std::uint32_t filesize = ParseFileSize(ReadAttribute(file, "filesize"));
    ReadAttribute(file, "fileversion");
    std::string md5 = ReadAttribute(file, "md5");
    if (filename.empty() || !IsContainedRelativePath(filename))
        throw ManifestRejected{"its name leads out of the installation directory"};
    if (std::optional<std::string> fault = WindowsNameFault(filename))
        throw ManifestRejected{"its name cannot be a file's on Windows: " + *fault, sentence::kNameNotForWindows};
    std::string stored = WindowsStoredName(filename);
    return {std::move(stored), std::move(filename), {filesize, std::move(md5), file.Get("sha256").value_or(""), {}},
            file.Get("mode")};
}

// Whether two entries describe the same file: the same size and MD5 digest, and the same SHA-256
// digest where both give one.
bool DescribeTheSameFile(const tagExpectedFile& a, const tagExpectedFile& b)
{
    const std::string shaA = NormalizedDigest(a.strSha256), shaB = NormalizedDigest(b.strSha256);
    return a.nSize == b.nSize && NormalizedDigest(a.strMd5) == NormalizedDigest(b.strMd5) &&
           (shaA.empty() || shaB.empty() || shaA == shaB);
}

// The manifest lists one file under two names that describe it differently.
ManifestRejected Contradiction(const std::string& name, const std::string& other)
{
    if (DifferInLetterCaseAlone(name, other))
        return {"its name differs from " + other + "'s in letter case alone: one file on Windows",
                sentence::DiffersOnlyInCaseFrom(other)};
    return {"its name and " + other + "'s are one file on Windows, which drops the dots and blanks a name's parts end in",
            sentence::SameFileOnWindowsAs(other)};
}

// Whether the entry names again, under another spelling, a file an entry kept before names:
// Windows holds the two as one file, which is the entry kept, when both describe it alike. Throws
// ManifestRejected when they do not: the manifest contradicts itself.
bool IsAnotherSpelling(const ManifestEntry& entry, const std::vector<ManifestEntry>& kept, CCaseFoldedNames& names)
{
    const std::optional<std::size_t> first = names.Add(entry.strListedName, kept.size());
    if (!first)
        return false;
    const std::string& earlier = kept[*first].strListedName;
    if (!DescribeTheSameFile(kept[*first].expected, entry.expected))
        throw Contradiction(entry.strListedName, earlier);
    LogNote(entry.strListedName + " is taken as the same file as " + earlier +
            ": Windows holds both names as one file, and the manifest gives both the same size and digests");
    return true;
}

// The entry that ends the list, the number-th (from 1), with that filename attribute or none: the
// player knows it by its name, or by its number when it has none.
Failure Unusable(std::size_t number, const std::optional<std::string>& name, const ManifestRejected& rejected)
{
    const std::string entry = name ? *name : sentence::NthEntry(number);
    return {rejected.strReason.empty() ? sentence::ManifestEntryUnusable(entry)
                                       : sentence::ManifestEntryUnusable(entry, rejected.strReason),
            "entry " + std::to_string(number) + " (" + name.value_or("no name") + ") cannot be used: " + rejected.strCause};
}

}  // namespace

ManifestListing ReadManifest(const std::string& strText)
{
    ManifestListing listing;
    std::vector<ManifestEntry>& entries = listing.entries;
    bool lastKept = false;  // the patches that follow belong to the entry last kept
    std::size_t count = 0;
    CCaseFoldedNames names;  // of the entries kept
    enum Path : std::size_t { kRoot, kFile, kPatch };
    const std::vector<std::vector<std::string>> paths = {
        {"manifest"}, {"manifest", "filelist", "file"}, {"manifest", "filelist", "file", "patch"}};
    const bool wellFormed = ReadXmlElements(strText, paths, [&](std::size_t path, const CXmlAttributes& element) {
        if (path == kRoot)
            listing.bIsManifest = true;
        if (path == kRoot || listing.rejection)
            return;
        if (path == kPatch) {
            if (lastKept)
                if (std::optional<PatchOffer> offer = ReadPatch(entries.back().strName, element))
                    entries.back().patches.push_back(std::move(*offer));
            return;
        }
        lastKept = false;
        ++count;
        try {
            ManifestEntry entry = ReadEntry(element);
            if (entry.strName != "Reg.Local" && !IsAnotherSpelling(entry, entries, names)) {
                entries.push_back(std::move(entry));
                lastKept = true;
            }
        } catch (const ManifestRejected& rejected) {
            listing.rejection = Unusable(count, element.Get("filename"), rejected);
        }
    });
    if (!wellFormed || !listing.bIsManifest) {
        listing.strNotAManifest = !wellFormed ? "the answer is not a well-formed XML document"
                                              : "the answer's root element is not manifest";
        listing.bIsManifest = false;
        listing.entries.clear();
        listing.rejection.reset();
    }
    return listing;
}

std::optional<unsigned> EntryMode(const ManifestEntry& entry)
{
    const std::optional<std::string>& text = entry.modeText;
    if (!text)
        return std::nullopt;
    unsigned mode = 0;
    bool valid = !text->empty();
    for (char c : *text)
        valid = valid && c >= '0' && c <= '7' && (mode = mode * 8 + static_cast<unsigned>(c - '0')) <= 0777;
    if (valid)
        return mode;
    LogLine(entry.strName + ": the mode \"" + *text + "\" is not octal permission bits up to 777 and is ignored");
    return std::nullopt;
}

std::optional<tagPatchSource> PatchFrom(const ManifestEntry& entry, const std::string& strInstalledDigest)
{
    if (strInstalledDigest.empty())
        return std::nullopt;
    for (const PatchOffer& offer : entry.patches)
        if (offer.strFrom == strInstalledDigest)
            return offer.source;
    return std::nullopt;
}
