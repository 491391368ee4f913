// CDownloadMgr::Install: puts the downloaded files in place once every task has arrived.
// A file that cannot be moved is passed over. A package is looked at whole before anything of it
// is written: one that cannot be unpacked, or is unpacked only in part, fails the run and stays
// in the temporary directory.

#include <cerrno>
#include <cstring>
#include <strings.h>

#include "archive/PackageCheck.h"
#include "archive/UnzipPackage.h"
#include "archive/ZipReader.h"
#include "download/DownloadMgr.h"
#include "download/TempNames.h"
#include "download/Verification.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/Path.h"

namespace {

constexpr const char* kInstallBeginText = "开始安装更新，请稍候...";

std::string CannotUnpack(const std::string& entry, const std::string& reason)
{
    return "更新包中的 " + entry + " 无法解压（" + reason + "），已停止更新。";
}

// The package's own copy of the updater replaces the running one: it must be a program for this
// machine. Why it is not (for the user), or an empty text.
std::string OwnCopyProblem(CZipReader& reader, const std::string& ownName)
{
    tagZipEntry archive;
    const int count = reader.GetEntry(-1, archive) == ZR_OK ? archive.index : 0;
    for (int i = 0; i < count; ++i) {
        tagZipEntry entry;
        if (reader.GetEntry(i, entry) != ZR_OK || ::strcasecmp(entry.name.c_str(), ownName.c_str()) != 0)
            continue;
        std::string head;
        reader.ReadEntryData(i, head, kExecutableHeadSize);
        if (std::string problem = NotAnExecutableHeadForThisMachine(head); !problem.empty()) {
            LogLine(entry.name + " of the package cannot replace the running updater: " + problem);
            return CannotUnpack(entry.name, "不是本机可以运行的程序");
        }
    }
    return {};
}

// Why the package cannot be unpacked (for the user; the cause goes to the log), or an empty text.
std::string PackageProblem(const std::string& package, const std::string& installDir, const std::string& ownName)
{
    std::unique_ptr<CZipReader> reader = CZipReader::Open(package);
    if (!reader) {
        LogLine(package + " is not a zip archive that can be read");
        return "更新包已损坏，无法解压，已停止更新。";
    }
    if (std::optional<tagEntryProblem> problem = FindUnpackableEntry(*reader, installDir)) {
        LogLine(problem->entry + " of the package cannot be unpacked: " + problem->cause);
        return CannotUnpack(problem->entry, problem->reason);
    }
    return OwnCopyProblem(*reader, ownName);
}

}  // namespace

bool CreateDirectoryTree(std::string strPath)
{
    return CreateDirectoryWithParents(strPath);
}

void CDownloadMgr::MakeDurable() const
{
    // One flush of the installation's file system costs far less than one a file, and leaves
    // what was installed on the disk before the run says it finished. A failed flush is said and
    // passed over: the files are in place, and the disk's own error will show again.
    if (!SyncFileSystem(m_setup.strInstallDir))
        LogLine("the installation " + m_setup.strInstallDir + " could not be flushed to its disk: " + std::strerror(errno));
}

int CDownloadMgr::Install()
{
    // m_nLastEvent keeps DOWNLOAD_EVENT_INSTALLING: a cancel now must not pass for a finished run.
    m_pSink->OnDownloadEvent(0, 0, DOWNLOAD_EVENT_INSTALL_BEGIN, kInstallBeginText);
    const std::string ownName = PathFindFileName(GetModuleFileName());
    const std::size_t count = m_arrTasks.size();

    if (!m_setup.bManifestMode) {
        std::string package;
        if (count == 1) {
            package = m_setup.strTempDir + "\\" + m_arrTasks[0]->szFile;
            if (!InstallPackage(package, ownName))
                return 1;
        }
        MakeDurable();
        m_pSink->OnDownloadEvent(0, 0, DOWNLOAD_EVENT_FINISHED, nullptr);
        if (!package.empty())
            DeleteFile(package);
        return 0;
    }

    for (std::size_t i = 0; i < count; ++i)
        InstallFile(*m_arrTasks[i], ownName);
    MakeDurable();
    m_pSink->OnDownloadEvent(0, 0, DOWNLOAD_EVENT_FINISHED, nullptr);
    return 0;
}

bool CDownloadMgr::InstallPackage(const std::string& package, const std::string& ownName)
{
    std::string failure = PackageProblem(package, m_setup.strInstallDir, ownName);
    if (failure.empty()) {
        std::vector<std::string> names;
        tagUnzipFailure firstFailure;
        UnzipPackage(package, m_setup.strInstallDir, names, &firstFailure);
        if (firstFailure.result == ZR_OK)
            LogNote("unpacked " + std::to_string(names.size()) + " entries of " + PathFindFileName(package));
        if (firstFailure.result != ZR_OK) {
            LogLine(firstFailure.entry + " of the package was not unpacked: " + ZipResultText(firstFailure.result));
            failure = "更新包中的 " + firstFailure.entry + " 解压失败，已停止更新。";
        }
    }
    if (failure.empty())
        return true;
    Raise(0, 0, DOWNLOAD_EVENT_ERROR, failure.c_str());
    return false;
}

void CDownloadMgr::InstallFile(const tagDownloadTask& task, const std::string& ownName)
{
    const std::string source = TempFilePath(m_setup.strTempDir, task, true);
    std::string destination;
    if (::strcasecmp(ownName.c_str(), task.szFile.c_str()) == 0) {
        // The running executable steps aside for its new copy, which takes its name (the letter
        // case of the task may differ) and its permissions.
        destination = m_setup.strInstallDir + "\\" + ownName;
        std::optional<mode_t> mode = GetFileMode(destination);
        if (PathFileExists(m_strOldExePath))
            DeleteFile(m_strOldExePath);
        MoveFileEx(destination, m_strOldExePath, MOVEFILE_WRITE_THROUGH);
        if (mode)
            SetFileMode(source, *mode);
    } else if (!task.szDir.empty()) {
        CreateDirectoryTree(m_setup.strInstallDir + "\\" + task.szDir);
        destination = m_setup.strInstallDir + "\\" + task.szDir + "\\" + task.szFile;
    } else {
        destination = m_setup.strInstallDir + "\\" + task.szFile;
    }
    // A mode the manifest gives is the file's, whatever it replaced; the umask limits it as it
    // limits every file this process creates.
    if (!MoveFileEx(source, destination, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
        LogLine(task.szName + " could not be put in place, and stays in the temporary directory: " + std::strerror(errno));
        return;
    }
    if (task.expected && task.expected->nMode)
        SetFileMode(destination, *task.expected->nMode & ~FileCreationMask() & 0777);
    LogNote("installed " + task.szName);
}
