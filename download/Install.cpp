// CDownloadMgr::Install: puts the downloaded files in place once every task has arrived. Every
// file is first staged on the installation's file system, ready for one rename (a manifest's
// files with their final permissions, a package unpacked whole into the staging directory); then
// the journal of the renames is written and carried out (download/JournaledInstall.h). A step
// that fails, before the renames or during them, leaves every file as it was, fails the run with
// one sentence naming the file, and leaves the downloads for the next run (those copied to a
// staging directory on another file system go with it, and are fetched again). A package is
// looked at whole before anything of it is written.

#include <cerrno>
#include <cstring>
#include <set>
#include <strings.h>

#include "archive/PackageCheck.h"
#include "archive/UnzipPackage.h"
#include "archive/ZipReader.h"
#include "download/DownloadMgr.h"
#include "download/InstallMessages.h"
#include "download/InstallStaging.h"
#include "download/JournaledInstall.h"
#include "download/TempNames.h"
#include "download/Verification.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/Path.h"

namespace {

constexpr const char* kInstallBeginText = "开始安装更新，请稍候...";

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
std::string PackageProblem(const std::string& package, const std::string& ownName)
{
    std::unique_ptr<CZipReader> reader = CZipReader::Open(package);
    if (!reader) {
        LogLine(package + " is not a zip archive that can be read");
        return "更新包已损坏，无法解压，已停止更新。";
    }
    if (std::optional<tagEntryProblem> problem = FindUnpackableEntry(*reader)) {
        LogLine(problem->entry + " of the package cannot be unpacked: " + problem->cause);
        return CannotUnpack(problem->entry, problem->reason);
    }
    return OwnCopyProblem(*reader, ownName);
}

std::string UnpackFailureReason(int result)
{
    switch (result) {
    case ZR_NOFILE: return "无法创建文件";
    case ZR_WRITE: return "写入失败，磁盘可能已满";
    case ZR_PASSWORD: return "文件已加密";
    case ZR_FLATE: return "数据已损坏";
    default: return "记录已损坏";
    }
}

// An entry's name as one path: '/' between its levels, no empty level, no separator at its end.
std::string EntryPath(const std::string& name)
{
    std::string path;
    for (char c : ToNativePath(name)) {
        if (c != '/' || (!path.empty() && path.back() != '/'))
            path += c;
    }
    while (path.ends_with('/'))
        path.pop_back();
    return path;
}

// The installation's file for a task: a manifest name ending in a separator names none.
std::optional<std::string> Destination(const tagDownloadTask& task, const std::string& installDir, bool own)
{
    if (own)  // the running executable, whatever directory or letter case the task gives it
        return PathInDirectory(installDir, PathFindFileName(GetModuleFileName()));
    if (task.szFile.empty())
        return std::nullopt;
    return PathInDirectory(installDir, task.szDir.empty() ? task.szFile : task.szDir + "/" + task.szFile);
}

// The mode the file gets: the one the manifest gives, else the replaced file's (the updater's
// new copy of itself takes the old one's); nothing for a new file, which keeps what it was created with.
std::optional<mode_t> FinalMode(const tagDownloadTask& task, const std::string& destination, mode_t creationMask)
{
    if (task.expected && task.expected->nMode)
        return *task.expected->nMode & ~creationMask & 0777;
    return GetFileMode(destination);
}

// Makes the staging directory anew; why it cannot be made (for the player), or an empty text.
std::string StagingProblem(const std::string& directory)
{
    if (PrepareStaging(directory))
        return {};
    const int error = errno;
    LogLine("the staging directory " + directory + " cannot be made: " + std::strerror(error));
    return InstallFailureSentence({InstallFailure::kJournal, directory, error, std::nullopt}, {});
}

// What staging a manifest's files needs, and the journal it fills.
struct FileStaging {
    const DownloadSetup& setup;
    std::string ownName;     // the running executable's
    std::string oldExePath;  // where it is set aside
    StagingPlace place;
    mode_t creationMask = 0;
    InstallJournal journal;
};

// Readies one download for its move and adds the move to the journal; the sentence for the
// player when it cannot be.
std::string StageFile(const tagDownloadTask& task, FileStaging& staging)
{
    const std::string& installDir = staging.setup.strInstallDir;
    const bool own = ::strcasecmp(staging.ownName.c_str(), task.szFile.c_str()) == 0;
    const std::optional<std::string> destination = Destination(task, installDir, own);
    if (!destination) {
        LogLine(task.szName + " names a directory, not a file, and cannot be installed");
        return CannotInstall(task.szName, "名称以分隔符结尾，不是文件名");
    }
    if (int error = EnsureDirectory(std::string(SplitAtLastSeparator(*destination).directory))) {
        LogLine("the directory of " + task.szName + " cannot be made: " + std::strerror(error));
        return CannotInstall(task.szName, FailureReason(error));
    }
    std::string staged = TempFilePath(staging.setup.strTempDir, task, true);
    if (staging.place.bCopyDownloads) {
        // Copied (and flushed) onto the installation's file system, where its move is a rename.
        const std::string copy = PathInDirectory(staging.place.directory, PathFindFileName(staged));
        if (!MoveFileEx(staged, copy, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
            const int error = errno;
            LogLine(task.szName + " could not be copied to " + copy + ": " + std::strerror(error));
            return CannotInstall(task.szName, FailureReason(error));
        }
        staged = copy;
    }
    if (std::optional<mode_t> mode = FinalMode(task, *destination, staging.creationMask); mode && !SetFileMode(staged, *mode)) {
        const int error = errno;
        LogLine("the permissions of " + task.szName + " cannot be set: " + std::strerror(error));
        return CannotInstall(task.szName, FailureReason(error));
    }
    if (own) {
        staging.journal.setAsideMove = staging.journal.moves.size();
        staging.journal.setAside = JournalPath(installDir, staging.oldExePath);
    }
    staging.journal.moves.push_back({JournalPath(installDir, staged), JournalPath(installDir, *destination)});
    return {};
}

// What installing a package needs, and the journal it fills.
struct PackageStaging {
    const std::string& installDir;
    StagingPlace place;
    InstallJournal journal;
    std::vector<std::string> entries;  // of each move, as the player knows it
};

std::string UnpackedTree(const PackageStaging& staging)
{
    return PathInDirectory(staging.place.directory, "unpacked");
}

// Unpacks the whole package into the staging directory; the sentence for the player when an
// entry fails, else an empty text. `names` receives every entry's name, in the package's order.
std::string UnpackIntoStaging(const std::string& package, const PackageStaging& staging, std::vector<std::string>& names)
{
    tagUnzipFailure firstFailure;
    UnzipPackage(package, UnpackedTree(staging), names, &firstFailure);
    if (firstFailure.result == ZR_OK)
        return {};
    LogLine(firstFailure.entry + " of the package was not unpacked: " + ZipResultText(firstFailure.result));
    return CannotUnpack(firstFailure.entry, UnpackFailureReason(firstFailure.result));
}

// A move into the installation for each unpacked file or link, in the package's order, and each
// directory made there; the sentence for the player when one cannot be made.
std::string PlanPackageMoves(const std::vector<std::string>& names, PackageStaging& staging)
{
    std::set<std::string> seen;  // an entry stored twice was unpacked once, the later over the earlier
    for (const std::string& name : names) {
        const std::string path = EntryPath(name);
        if (path.empty() || !seen.insert(path).second)
            continue;
        const std::string staged = PathInDirectory(UnpackedTree(staging), path);
        const std::string destination = PathInDirectory(staging.installDir, path);
        const bool directory = PathIsDirectory(staged) && !PathIsSymbolicLink(staged);
        if (int error = EnsureDirectory(directory ? destination : std::string(SplitAtLastSeparator(destination).directory))) {
            LogLine("the directory of " + name + " cannot be made in the installation: " + std::strerror(error));
            return "更新包中的 " + CannotInstall(name, FailureReason(error));
        }
        if (!directory) {
            staging.journal.moves.push_back({JournalPath(staging.installDir, staged), JournalPath(staging.installDir, destination)});
            staging.entries.push_back(name);
        }
    }
    return {};
}

}  // namespace

bool CreateDirectoryTree(std::string strPath)
{
    return CreateDirectoryWithParents(strPath);
}

int CDownloadMgr::Install()
{
    // m_nLastEvent keeps DOWNLOAD_EVENT_INSTALLING: a cancel now must not pass for a finished run.
    m_pSink->OnDownloadEvent(0, 0, DOWNLOAD_EVENT_INSTALL_BEGIN, kInstallBeginText);
    const std::string ownName = PathFindFileName(GetModuleFileName());
    std::string package;
    std::string failure;
    if (m_setup.bManifestMode) {
        failure = InstallFiles(ownName);
    } else if (m_arrTasks.size() == 1) {
        package = m_setup.strTempDir + "\\" + m_arrTasks[0]->szFile;
        failure = InstallPackage(package, ownName);
    }
    if (!failure.empty()) {
        Raise(0, 0, DOWNLOAD_EVENT_ERROR, failure.c_str());
        return 1;
    }
    m_pSink->OnDownloadEvent(0, 0, DOWNLOAD_EVENT_FINISHED, nullptr);
    if (!package.empty())
        DeleteFile(package);
    return 0;
}

std::string CDownloadMgr::InstallFiles(const std::string& ownName)
{
    FileStaging staging{m_setup, ownName, m_strOldExePath, ChooseStaging(m_setup.strTempDir, m_setup.strInstallDir),
                        FileCreationMask(), {}};
    if (std::string problem = StagingProblem(staging.place.directory); !problem.empty())
        return problem;
    staging.journal.staging = JournalPath(m_setup.strInstallDir, staging.place.directory);
    for (const auto& task : m_arrTasks) {
        if (std::string failure = StageFile(*task, staging); !failure.empty()) {
            RemoveStaging(staging.place.directory);
            return failure;
        }
    }
    if (std::optional<InstallFailure> failure = InstallByJournal(staging.journal, m_setup.strTempDir, m_setup.strInstallDir))
        return InstallFailureSentence(*failure, failure->move ? m_arrTasks[*failure->move]->szName : failure->name);
    for (const auto& task : m_arrTasks)
        LogNote("installed " + task->szName);
    return {};
}

std::string CDownloadMgr::InstallPackage(const std::string& package, const std::string& ownName)
{
    if (std::string problem = PackageProblem(package, ownName); !problem.empty())
        return problem;
    PackageStaging staging{m_setup.strInstallDir, ChooseStaging(m_setup.strTempDir, m_setup.strInstallDir), {}, {}};
    if (std::string problem = StagingProblem(staging.place.directory); !problem.empty())
        return problem;
    staging.journal.staging = JournalPath(m_setup.strInstallDir, staging.place.directory);
    std::vector<std::string> names;
    std::string failure = UnpackIntoStaging(package, staging, names);
    if (failure.empty())
        failure = PlanPackageMoves(names, staging);
    if (!failure.empty()) {
        RemoveStaging(staging.place.directory);
        return failure;
    }
    if (std::optional<InstallFailure> failed = InstallByJournal(staging.journal, m_setup.strTempDir, m_setup.strInstallDir)) {
        const bool entry = failed->move.has_value();
        return (entry ? "更新包中的 " : "") + InstallFailureSentence(*failed, entry ? staging.entries[*failed->move] : failed->name);
    }
    LogNote("unpacked " + std::to_string(names.size()) + " entries of " + PathFindFileName(package));
    return {};
}
