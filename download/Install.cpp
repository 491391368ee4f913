// CDownloadMgr::Install: puts the downloaded files in place once every task has arrived.
// Nothing here stops the installation: a file that cannot be moved is passed over.

#include <strings.h>

#include "archive/UnzipPackage.h"
#include "download/DownloadMgr.h"
#include "download/Globals.h"
#include "download/TempNames.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"

namespace {

constexpr const char* kInstallBeginText = "开始安装更新，请稍候...";

}  // namespace

bool CreateDirectoryTree(std::string strPath)
{
    if (!strPath.ends_with('\\') && !strPath.ends_with('/'))
        strPath += '\\';
    bool created = false;
    for (auto at = strPath.find_first_of("\\/"); at != std::string::npos; at = strPath.find_first_of("\\/", at + 1))
        created = CreateDirectory(strPath.substr(0, at));
    return created;
}

int CDownloadMgr::Install()
{
    // m_nLastEvent keeps DOWNLOAD_EVENT_INSTALLING: a cancel now must not pass for a finished run.
    m_pSink->OnDownloadEvent(0, 0, DOWNLOAD_EVENT_INSTALL_BEGIN, kInstallBeginText);
    const std::string ownName = PathFindFileName(GetModuleFileName());
    const std::size_t count = m_arrTasks.size();

    if (g_bManifestMode == 0) {
        std::string package;
        if (count == 1) {
            package = m_strTempDir + "\\" + m_arrTasks[0]->szFile;
            std::vector<std::string> names;
            UnzipPackage(package, m_strInstallDir, names);
        }
        m_pSink->OnDownloadEvent(0, 0, DOWNLOAD_EVENT_FINISHED, nullptr);
        if (!package.empty())
            DeleteFile(package);
        return 0;
    }

    for (std::size_t i = 0; i < count; ++i)
        InstallFile(*m_arrTasks[i], ownName);
    m_pSink->OnDownloadEvent(0, 0, DOWNLOAD_EVENT_FINISHED, nullptr);
    return 0;
}

void CDownloadMgr::InstallFile(const tagDownloadTask& task, const std::string& ownName)
{
    const std::string source = TempFilePath(m_strTempDir, task, true);
    std::string destination;
    if (::strcasecmp(ownName.c_str(), task.szFile.c_str()) == 0) {
        // The running executable steps aside for its new copy, which takes its name (the letter
        // case of the task may differ) and its permissions.
        destination = m_strInstallDir + "\\" + ownName;
        std::optional<mode_t> mode = GetFileMode(destination);
        if (PathFileExists(g_strOldExePath))
            DeleteFile(g_strOldExePath);
        MoveFileEx(destination, g_strOldExePath, MOVEFILE_WRITE_THROUGH);
        if (mode)
            SetFileMode(source, *mode);
    } else if (!task.szDir.empty()) {
        CreateDirectoryTree(m_strInstallDir + "\\" + task.szDir);
        destination = m_strInstallDir + "\\" + task.szDir + "\\" + task.szFile;
    } else {
        destination = m_strInstallDir + "\\" + task.szFile;
    }
    // A mode the manifest gives is the file's, whatever it replaced; the umask limits it as it
    // limits every file this process creates.
    if (MoveFileEx(source, destination, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) && task.expected &&
        task.expected->nMode)
        SetFileMode(destination, *task.expected->nMode & ~ProcessUmask() & 0777);
}
