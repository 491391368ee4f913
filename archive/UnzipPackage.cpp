#include "archive/UnzipPackage.h"

#include <algorithm>
#include <functional>
#include <thread>

#include "archive/PackageCheck.h"
#include "archive/ZipReader.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/WindowsName.h"

namespace {

std::string Destination(const std::string& strDestDir)
{
    std::string dest = strDestDir.empty() ? CurrentDirectory() : strDestDir;
    if (dest.empty())
        dest.push_back('.');  // no working directory to tell
    CreateDirectoryWithParents(dest);
    return dest;
}

// The directory part of an entry's name, without the separators at its end.
std::string EntryDirectory(const tagZipEntry& entry)
{
    const std::string path = entry.name.substr(0, entry.name.find_last_not_of("\\/") + 1);
    return std::string(SplitAtLastSeparator(path).directory);
}

// Unpacks one entry under dest, under its name as Windows stores it, never through a link on its
// way; `checkedDir` remembers the directory whose way was looked at last, as entries of one
// directory follow each other.
ZipResult ExtractUnderDestination(CZipReader& reader, int index, const tagZipEntry& entry, const std::string& dest,
                                  std::string& checkedDir)
{
    const std::string dir = EntryDirectory(entry);  // what lies on its way
    const std::string name = WindowsStoredName(entry.name);
    bool placeable = IsPlaceableEntryName(entry.name);
    if (placeable && dir != checkedDir) {
        placeable = !ExistingLinkOnTheWay(dest, name);  // never written through a link
        checkedDir = placeable ? dir : std::string();
    }
    return placeable ? reader.ExtractEntry(index, dest + "\\" + name) : ZipResult::NoFile;
}

// The entries that name, under another spelling, a file an earlier entry names: a package
// FindUnpackableEntry passed holds such entries only as the same file again, which Windows holds
// once, and which is unpacked once, from the first.
std::vector<bool> LaterSpellings(const std::vector<tagZipEntry>& entries)
{
    CCaseFoldedNames names;
    std::vector<bool> later(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
        later[i] = !NamesTheDestination(entries[i]) && names.Add(entries[i].name, i);
    return later;
}

}  // namespace

ZipResult UnzipPackage(const std::string& strZipFile, const std::string& strDestDir, std::vector<std::string>& arrNames,
                       tagUnzipFailure* pFirstFailure)
{
    const std::string dest = Destination(strDestDir);

    std::unique_ptr<CZipReader> reader = CZipReader::Open(strZipFile);
    tagZipEntry archive;
    int count = reader && reader->GetEntry(-1, archive) == ZipResult::Ok ? archive.index : 0;
    ZipResult result = ZipResult::Ok;
    std::string checkedDir;  // entries of one directory follow each other: its path is checked once
    for (int i = 0; i < count; ++i) {
        tagZipEntry entry;
        reader->GetEntry(i, entry);
        if (NamesTheDestination(entry))
            continue;
        result = ExtractUnderDestination(*reader, i, entry, dest, checkedDir);
        arrNames.push_back(WindowsStoredName(entry.name));
        if (result != ZipResult::Ok && pFirstFailure && pFirstFailure->result == ZipResult::Ok)
            *pFirstFailure = {entry.name, result};
        if (result != ZipResult::Ok && !PathFileExists(entry.name))
            break;
    }
    return result;
}

ZipResult UnzipCheckedPackage(const std::string& strZipFile, const std::string& strDestDir,
                              std::vector<std::string>& arrNames, tagUnzipFailure* pFirstFailure)
{
    const std::string dest = Destination(strDestDir);
    std::unique_ptr<CZipReader> reader = CZipReader::Open(strZipFile);
    tagZipEntry archive;
    const int count = reader && reader->GetEntry(-1, archive) == ZipResult::Ok ? archive.index : 0;
    std::vector<tagZipEntry> entries(static_cast<std::size_t>(count));
    std::vector<ZipResult> results(entries.size(), ZipResult::Ok);
    for (int i = 0; i < count; ++i)
        results[i] = reader->GetEntry(i, entries[i]);
    const std::vector<bool> passedOver = LaterSpellings(entries);
    // Each worker takes the entries of its directories, in the package's order, with a reader of
    // its own: an entry stored twice is unpacked by one worker, the later over the earlier.
    auto work = [&](std::size_t worker, CZipReader& own) {
        std::string checkedDir;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            // Only this worker's entries are looked at: the other's results are the other's.
            if (std::hash<std::string>{}(EntryDirectory(entries[i])) % 2 != worker || results[i] != ZipResult::Ok ||
                NamesTheDestination(entries[i]) || passedOver[i])
                continue;
            results[i] = ExtractUnderDestination(own, static_cast<int>(i), entries[i], dest, checkedDir);
            if (results[i] != ZipResult::Ok)
                return;  // the package fails on its first failed entry: nothing more is needed
        }
    };
    std::unique_ptr<CZipReader> second = count > 1 ? CZipReader::Open(strZipFile) : nullptr;
    {
        std::jthread other;
        if (second)
            other = std::jthread([&] { work(1, *second); });
        work(0, *reader);
        if (!second)
            work(1, *reader);
    }
    ZipResult result = ZipResult::Ok;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (NamesTheDestination(entries[i]) || passedOver[i])
            continue;
        arrNames.push_back(WindowsStoredName(entries[i].name));
        if (results[i] != ZipResult::Ok && result == ZipResult::Ok) {
            result = results[i];
            if (pFirstFailure)
                *pFirstFailure = {entries[i].name, results[i]};
        }
    }
    return result;
}
