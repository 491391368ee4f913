#include "download/TempNames.h"

#include <algorithm>

#include "download/DownloadTask.h"

std::string FlattenDirName(const std::string& szDir)
{
    std::string flat = szDir;
    std::replace(flat.begin(), flat.end(), '\\', '_');
    return flat;
}

std::string TempFilePath(const std::string& strTempDir, const tagDownloadTask& task, bool bManifestMode)
{
    if (!bManifestMode)
        return strTempDir + "\\" + task.szFile;
    if (task.szDir.empty())
        return strTempDir + "\\" + task.szFile + ".dtm";
    return strTempDir + "\\" + FlattenDirName(task.szDir) + "_" + task.szFile + ".dtm";
}
