#include "archive/UnzipPackage.h"

#include <unistd.h>

#include "archive/PackageCheck.h"
#include "archive/ZipReader.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"

ZipResult UnzipPackage(const std::string& strZipFile, const std::string& strDestDir, std::vector<std::string>& arrNames,
                 tagUnzipFailure* pFirstFailure)
{
    std::string dest = strDestDir;
    if (dest.empty()) {
        char cwd[4096];
        dest = ::getcwd(cwd, sizeof cwd) ? cwd : ".";
    }
    CreateDirectoryWithParents(dest);

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
        const std::string path = entry.name.substr(0, entry.name.find_last_not_of("\\/") + 1);
        const std::string dir(SplitAtLastSeparator(path).directory);  // what lies on its way
        bool placeable = IsPlaceableEntryName(entry.name);
        if (placeable && dir != checkedDir) {
            placeable = !ExistingLinkOnTheWay(dest, entry.name);  // never written through a link
            checkedDir = placeable ? dir : std::string();
        }
        result = placeable ? reader->ExtractEntry(i, dest + "\\" + entry.name) : ZipResult::NoFile;
        arrNames.push_back(entry.name);
        if (result != ZipResult::Ok && pFirstFailure && pFirstFailure->result == ZipResult::Ok)
            *pFirstFailure = {entry.name, result};
        if (result != ZipResult::Ok && ::access(ToNativePath(entry.name).c_str(), F_OK) != 0)
            break;
    }
    return result;
}
