#include "download/TempNames.h"

#include <algorithm>

#include "download/DownloadTask.h"

std::string FlattenDirName(const std::string& szDir)
{
    // '/' separates directories as '\\' does: a name written either way lies directly in the
    // temporary directory.
    std::string flat = szDir;
    std::replace(flat.begin(), flat.end(), '\\', '_');
    std::replace(flat.begin(), flat.end(), '/', '_');
    return flat;
}

std::string FlatTempName(const tagDownloadTask& task)
{
    if (task.szDir.empty())
        return task.szFile + ".dtm";
    return FlattenDirName(task.szDir) + "_" + task.szFile + ".dtm";
}

std::string TempFilePath(const std::string& strTempDir, const tagDownloadTask& task, bool bManifestMode)
{
    if (!bManifestMode)
        return strTempDir + "\\" + task.szFile;
    return strTempDir + "\\" + (task.szTempName.empty() ? FlatTempName(task) : task.szTempName);
}
