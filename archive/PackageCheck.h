#pragma once
// A package looked at before anything of it is written: either every entry can be unpacked and
// placed safely, or nothing is unpacked at all.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "archive/EntryPath.h"
#include "archive/ZipEntry.h"
#include "sentences/Failure.h"

class CZipReader;


// A directory entry whose name cleans to nothing ("./", ".", "/", ".\\") names the tree it is
// unpacked into, which is there already: bsdtar (Windows' tar.exe too) writes one first when a
// build is packed as ".". There is nothing to make for it. A file entry of no name is no such
// entry: it has no place to go.
bool NamesTheDestination(const tagZipEntry& entry);

// Whether an entry may be placed under its name: relative, no ".." component, no drive prefix,
// and a name Windows can hold (platform/WindowsName.h), on every system alike. It is placed under
// that name as Windows stores it ("readme." as readme).
bool IsPlaceableEntryName(std::string_view name);

// The first directory of the name's path (below destination) that exists as a symbolic link:
// what is written there would be written through it. The unpacking asks it of the tree it fills,
// where the links are the package's own.
std::optional<std::string> ExistingLinkOnTheWay(const std::string& destination, std::string_view name);


// The first entry that cannot be unpacked: of a method other than stored or deflated, encrypted,
// with sizes that do not add up or data beyond the archive's end, with a name that leads out of
// the tree or that Windows cannot hold, with a name Windows holds as an earlier entry's file (it
// differs in letter case, or in the dots and blanks Windows drops from a name's parts) unless
// both are regular files of the same size and CRC-32, a link that leads out of it, or a path
// through a link of the archive (compared as Windows compares names). Two such files are one:
// the later is said in the log and not unpacked (UnzipCheckedPackage). Links already in the
// installation are written through: a package makes none that leads out of it, so one that does
// (a folder the player moved to another disk) was made on the machine itself.
// The failure names the entry (by its cleaned name, or "#N" when its record cannot be read) in
// both its sentence and its cause; it is not logged here.
std::optional<Failure> FindUnpackableEntry(CZipReader& reader);
