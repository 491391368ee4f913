#include "archive/PackageCheck.h"

#include <map>
#include <vector>

#include "archive/ZipReader.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/Path.h"
#include "platform/WindowsName.h"
#include "sentences/Sentences.h"

namespace {

// Deflate cannot pack more than about 1032 bytes into one.
constexpr std::uint64_t kMaxDeflateRatio = 1032;
constexpr unsigned kStored = 0, kDeflated = 8, kAes = 99;

// The entry (its cleaned name, or "#N" when its record cannot be read) cannot be unpacked: the
// player is told which and why in one sentence, the log the details.
Failure Unpackable(const std::string& entry, const std::string& reason, const std::string& cause)
{
    return {sentence::CannotUnpack(entry, reason), entry + " of the package cannot be unpacked: " + cause};
}

std::string MethodName(unsigned method)
{
    switch (method) {
    case 1: return "Shrink";
    case 6: return "Implode";
    case 9: return "Deflate64";
    case 12: return "bzip2";
    case 14: return "LZMA";
    case 93: return "Zstandard";
    case 95: return "xz";
    case 98: return "PPMd";
    default: return "method " + std::to_string(method);
    }
}

std::optional<Failure> SizesProblem(const tagZipEntry& entry, std::uint64_t archiveSize)
{
    std::string cause;
    if (entry.method == kStored && entry.comp_size != entry.unc_size)
        cause = "it is stored, yet its sizes differ";
    else if (entry.method == kDeflated && entry.unc_size / kMaxDeflateRatio > entry.comp_size)
        cause = "deflate cannot pack " + std::to_string(entry.unc_size) + " bytes into " +
                std::to_string(entry.comp_size);
    else if (entry.data_offset + entry.comp_size > archiveSize)
        cause = "its data would end beyond the end of the package";
    if (cause.empty())
        return std::nullopt;
    return Unpackable(entry.name, sentence::kEntrySizeWrong, cause);
}

std::optional<Failure> EntryProblem(const tagZipEntry& entry, std::uint64_t archiveSize)
{
    if (entry.encrypted || entry.method == kAes)
        return Unpackable(entry.name, sentence::kEntryEncrypted, "it is encrypted");
    if (entry.method != kStored && entry.method != kDeflated)
        return Unpackable(entry.name, sentence::EntryMethodUnsupported(MethodName(entry.method)),
                          "it is compressed with " + MethodName(entry.method) + ", which cannot be unpacked here");
    if (entry.name.empty() || !IsContainedRelativePath(entry.name))
        return Unpackable(entry.name, sentence::kEntryLeadsOut, "its name leads out of the destination");
    if (std::optional<std::string> fault = WindowsNameFault(entry.name))
        return Unpackable(entry.name, sentence::kNameNotForWindows,
                          "its name cannot be a file's on Windows: " + *fault);
    return SizesProblem(entry, archiveSize);
}

// A path below a link of the archive would be written through it, to wherever the archive
// points it; on Windows "Maps/x" goes through a link "maps" too. The links by folded path.
std::optional<std::string> LinkOnTheWay(const std::string& name, const std::map<std::string, std::string>& links)
{
    std::string prefix;
    const std::string folded = CaseFoldedPath(name);  // the parts below are views into it
    for (std::string_view part : PathComponents(folded)) {
        if (auto link = links.find(prefix); link != links.end())
            return link->second;
        prefix += (prefix.empty() ? "" : "/") + std::string(part);
    }
    return std::nullopt;
}

bool IsRegularFile(const tagZipEntry& entry)
{
    return !entry.link && !(entry.attr & FILE_ATTRIBUTE_DIRECTORY);
}

// The package holds one file under two names, as two different things.
Failure Contradiction(const std::string& name, const std::string& other)
{
    if (DifferInLetterCaseAlone(name, other))
        return Unpackable(name, sentence::DiffersOnlyInCaseFrom(other),
                          "its name differs from " + other + "'s in letter case alone: one file on Windows");
    return Unpackable(name, sentence::SameFileOnWindowsAs(other),
                      "its name and " + other + "'s are one file on Windows, which drops the dots and blanks a name's parts end in");
}

// The last entry read names, under another spelling, a file an earlier entry names: Windows holds
// the two as one file. Two regular files of the same size and CRC-32 are that file twice, and the
// later is not unpacked (UnzipCheckedPackage); anything else contradicts itself.
std::optional<Failure> SpellingProblem(const std::vector<tagZipEntry>& entries, CCaseFoldedNames& names)
{
    const tagZipEntry& entry = entries.back();
    const std::optional<std::size_t> first = names.Add(entry.name, entries.size() - 1);
    if (!first)
        return std::nullopt;
    const tagZipEntry& earlier = entries[*first];
    if (IsRegularFile(earlier) && IsRegularFile(entry) && earlier.unc_size == entry.unc_size && earlier.crc == entry.crc) {
        LogNote(entry.name + " of the package is taken as the same file as " + earlier.name +
                ": Windows holds both names as one file, and both have the same size and CRC-32");
        return std::nullopt;
    }
    return Contradiction(entry.name, earlier.name);
}

}  // namespace

bool NamesTheDestination(const tagZipEntry& entry)
{
    return entry.name.empty() && (entry.attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsPlaceableEntryName(std::string_view name)
{
    return !name.empty() && IsContainedRelativePath(name) && !WindowsNameFault(name);
}

std::optional<std::string> ExistingLinkOnTheWay(const std::string& destination, std::string_view name)
{
    const std::vector<std::string_view> parts = PathComponents(name);
    std::string path = destination;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        path += "/" + std::string(parts[i]);
        if (!PathNameExists(path))
            return std::nullopt;  // what does not exist yet is made as a directory
        if (PathIsSymbolicLink(path))
            return path;
    }
    return std::nullopt;
}

std::optional<Failure> FindUnpackableEntry(CZipReader& reader)
{
    tagZipEntry archive;
    const int count = reader.GetEntry(-1, archive) == ZipResult::Ok ? archive.index : 0;
    std::vector<tagZipEntry> entries;
    std::map<std::string, std::string> links;  // by CaseFoldedPath
    CCaseFoldedNames names;
    for (int i = 0; i < count; ++i) {
        tagZipEntry& entry = entries.emplace_back();
        if (reader.GetEntry(i, entry) != ZipResult::Ok)
            return Unpackable("#" + std::to_string(i + 1), sentence::kEntryRecordDamaged, "its record cannot be read");
        if (NamesTheDestination(entry))
            continue;
        if (auto problem = EntryProblem(entry, reader.ArchiveSize()))
            return problem;
        if (auto problem = SpellingProblem(entries, names))
            return problem;
        if (!entry.link)
            continue;
        std::string target;
        if (reader.ReadEntryData(i, target, kMaxLinkTarget + 1) != ZipResult::Ok || target.size() != entry.unc_size)
            return Unpackable(entry.name, sentence::kEntryDataDamaged, "its data are damaged or fail their CRC-32");
        if (!LinkStaysInside(entry.name, target))
            return Unpackable(entry.name, sentence::kEntryLinkLeadsOut,
                              "it is a link to \"" + target.substr(0, 200) + "\", which leads out of the destination");
        links.emplace(CaseFoldedPath(entry.name), entry.name);
    }
    // Links may come after the entries below them: the paths are checked once all are known.
    for (const tagZipEntry& entry : entries) {
        if (auto link = LinkOnTheWay(entry.name, links))
            return Unpackable(entry.name, sentence::kEntryBelowLink, "it would be written through the link " + *link);
    }
    return std::nullopt;
}
