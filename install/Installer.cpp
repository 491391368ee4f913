// CInstaller: the staging of the verified downloads and the journal that puts them in place. A
// package is looked at whole before anything of it is written.

#include <cerrno>
#include <cstring>
#include <set>
#include <strings.h>

#include "archive/PackageCheck.h"
#include "archive/UnzipPackage.h"
#include "archive/ZipReader.h"
#include "install/Installer.h"
#include "install/InstallMessages.h"
#include "policy/Policy.h"
#include "sentences/Sentences.h"
#include "install/InstallStaging.h"
#include "install/JournaledInstall.h"
#include "platform/Executable.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/Path.h"
#include "platform/WindowsName.h"

namespace {

// The package's own copy of the updater (under its name as Windows stores it: KesuUpdate.exe. is
// one) replaces the running one: it must be a program for this machine. Why it is not (for the
// user), or nothing when it is.
std::optional<std::string> OwnCopyProblem(CZipReader& reader, const std::string& ownName)
{
    tagZipEntry archive;
    const int count = reader.GetEntry(-1, archive) == ZipResult::Ok ? archive.index : 0;
    for (int i = 0; i < count; ++i) {
        tagZipEntry entry;
        if (reader.GetEntry(i, entry) != ZipResult::Ok ||
            ::strcasecmp(WindowsStoredName(entry.name).c_str(), ownName.c_str()) != 0)
            continue;
        std::string head;
        reader.ReadEntryData(i, head, kExecutableHeadSize);
        if (std::optional<std::string> problem = NotAnExecutableHeadForThisMachine(head)) {
            LogLine(entry.name + " of the package cannot replace the running updater: " + *problem);
            return sentence::CannotUnpack(entry.name, sentence::kNotAProgramForThisMachine);
        }
    }
    return std::nullopt;
}

// Why the package cannot be unpacked (for the user; the cause goes to the log), or nothing.
std::optional<std::string> PackageProblem(const std::string& package, const std::string& ownName)
{
    std::unique_ptr<CZipReader> reader = CZipReader::Open(package);
    if (!reader) {
        LogLine(package + " is not a zip archive that can be read");
        return sentence::kPackageDamaged;
    }
    if (std::optional<Failure> problem = FindUnpackableEntry(*reader)) {
        LogLine(problem->strCause);
        return problem->strSentence;
    }
    return OwnCopyProblem(*reader, ownName);
}

std::string UnpackFailureReason(ZipResult result)
{
    switch (result) {
    case ZipResult::NoFile: return sentence::kCannotCreateFile;
    case ZipResult::Write: return sentence::kWriteFailed;
    case ZipResult::Password: return sentence::kEntryEncrypted;
    case ZipResult::Flate: return sentence::kEntryDataDamaged;
    default: return sentence::kEntryRecordDamaged;
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

// The installation's file for a download: a manifest name ending in a separator names none.
std::optional<std::string> Destination(const VerifiedDownload& download, const std::string& installDir, bool own)
{
    if (own)  // the running executable, whatever directory or letter case the manifest gives it
        return PathInDirectory(installDir, PathFindFileName(GetModuleFileName()));
    if (download.strFile.empty())
        return std::nullopt;
    return PathInDirectory(installDir, download.strDir.empty() ? download.strFile : download.strDir + "/" + download.strFile);
}

// The mode the file gets: the one the manifest gives, else the replaced file's (the updater's
// new copy of itself takes the old one's); nothing for a new file, which keeps what it was created with.
std::optional<mode_t> FinalMode(const VerifiedDownload& download, const std::string& destination, mode_t creationMask)
{
    if (download.nMode)
        return *download.nMode & ~creationMask & 0777;
    return GetFileMode(destination);
}

// Makes the staging directory anew; why it cannot be made (for the player), or nothing.
std::optional<std::string> StagingProblem(const std::string& directory)
{
    if (PrepareStaging(directory))
        return std::nullopt;
    const int error = errno;
    LogLine("the staging directory " + directory + " cannot be made: " + std::strerror(error));
    return JournalNotWrittenSentence(error);
}

// What staging a manifest's files needs, and the journal it fills.
struct FileStaging {
    const InstallOrder& order;
    std::string ownName;     // the running executable's
    std::string oldExePath;  // where it is set aside
    StagingPlace place;
    mode_t creationMask = 0;
    InstallJournal journal;
};

// Readies one download for its move and adds the move to the journal; the sentence for the
// player when it cannot be.
std::optional<std::string> StageFile(const VerifiedDownload& download, FileStaging& staging)
{
    const std::string& installDir = staging.order.strInstallDir;
    const bool own = ::strcasecmp(staging.ownName.c_str(), download.strFile.c_str()) == 0;
    const std::optional<std::string> destination = Destination(download, installDir, own);
    if (!destination) {
        LogLine(download.strName + " names a directory, not a file, and cannot be installed");
        return sentence::CannotInstall(download.strName, sentence::kNameEndsInSeparator);
    }
    if (int error = EnsureDirectory(std::string(SplitAtLastSeparator(*destination).directory))) {
        LogLine("the directory of " + download.strName + " cannot be made: " + std::strerror(error));
        return sentence::CannotInstall(download.strName, sentence::FailureReason(error));
    }
    std::string staged = download.strPath;
    if (staging.place.bCopyDownloads) {
        // Copied (and flushed) onto the installation's file system, where its move is a rename.
        const std::string copy = PathInDirectory(staging.place.directory, PathFindFileName(staged));
        if (!MoveFileEx(staged, copy, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
            const int error = errno;
            LogLine(download.strName + " could not be copied to " + copy + ": " + std::strerror(error));
            return sentence::CannotInstall(download.strName, sentence::FailureReason(error));
        }
        staged = copy;
    }
    if (std::optional<mode_t> mode = FinalMode(download, *destination, staging.creationMask); mode && !SetFileMode(staged, *mode)) {
        const int error = errno;
        LogLine("the permissions of " + download.strName + " cannot be set: " + std::strerror(error));
        return sentence::CannotInstall(download.strName, sentence::FailureReason(error));
    }
    if (own) {
        staging.journal.setAsideMove = staging.journal.moves.size();
        staging.journal.setAside = JournalPath(installDir, staging.oldExePath);
    }
    staging.journal.moves.push_back({JournalPath(installDir, staged), JournalPath(installDir, *destination)});
    return std::nullopt;
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
// entry fails, else nothing. `names` receives every entry's name, in the package's order.
std::optional<std::string> UnpackIntoStaging(const std::string& package, const PackageStaging& staging, std::vector<std::string>& names)
{
    tagUnzipFailure firstFailure;
    UnzipCheckedPackage(package, UnpackedTree(staging), names, &firstFailure);
    if (firstFailure.result == ZipResult::Ok)
        return std::nullopt;
    LogLine(firstFailure.entry + " of the package was not unpacked: " + ZipResultText(firstFailure.result));
    return sentence::CannotUnpack(firstFailure.entry, UnpackFailureReason(firstFailure.result));
}

// A move into the installation for each unpacked file or link, in the package's order, and each
// directory made there; the sentence for the player when one cannot be made.
std::optional<std::string> PlanPackageMoves(const std::vector<std::string>& names, PackageStaging& staging)
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
            return sentence::InThePackage(sentence::CannotInstall(name, sentence::FailureReason(error)));
        }
        if (!directory) {
            // Where the running updater cannot be replaced, only renamed (Windows), the package's
            // copy of it takes its place as a manifest's does: the old one steps aside.
            if (!kRunningProgramCanBeReplaced && ::strcasecmp(path.c_str(), PathFindFileName(GetModuleFileName()).c_str()) == 0) {
                staging.journal.setAsideMove = staging.journal.moves.size();
                staging.journal.setAside = JournalPath(staging.installDir, staging.installDir + SetAsideExeName());
            }
            staging.journal.moves.push_back({JournalPath(staging.installDir, staged), JournalPath(staging.installDir, destination)});
            staging.entries.push_back(name);
        }
    }
    return std::nullopt;
}

}  // namespace

std::string SetAsideExeName()
{
    const std::string executable = kExecutableName;
    auto dot = executable.rfind('.');
    return executable.substr(0, dot) + "_old" + executable.substr(dot);
}

bool CInstaller::Install(const InstallOrder& order)
{
    m_sink.OnInstallEvent(install_event::Begun{sentence::kInstallBegin});
    std::string package;
    std::optional<std::string> failure;
    if (!order.bPackage) {
        failure = InstallFiles(order);
    } else if (order.downloads.size() == 1) {
        package = order.downloads.front().strPath;
        failure = InstallPackage(order, package);
    }
    if (failure) {
        m_sink.OnInstallEvent(install_event::Failed{*failure});
        return false;
    }
    m_sink.OnInstallEvent(install_event::Finished{});
    if (!package.empty())
        DeleteFile(package);
    return true;
}

std::optional<std::string> CInstaller::InstallFiles(const InstallOrder& order)
{
    const std::string ownName = PathFindFileName(GetModuleFileName());
    FileStaging staging{order, ownName, order.strInstallDir + SetAsideExeName(),
                        ChooseStaging(order.strTempDir, order.strInstallDir), FileCreationMask(), {}};
    if (std::optional<std::string> problem = StagingProblem(staging.place.directory))
        return problem;
    staging.journal.staging = JournalPath(order.strInstallDir, staging.place.directory);
    for (const VerifiedDownload& download : order.downloads) {
        if (std::optional<std::string> failure = StageFile(download, staging)) {
            RemoveStaging(staging.place.directory);
            return failure;
        }
    }
    if (std::optional<JournalFailure> failed = InstallByJournal(staging.journal, order.strTempDir, order.strInstallDir, m_files))
        return failed->move ? CannotInstallSentence(order.downloads[*failed->move].strName, failed->error)
                            : failed->failure.strSentence;
    for (const VerifiedDownload& download : order.downloads)
        LogNote("installed " + download.strName);
    return std::nullopt;
}

std::optional<std::string> CInstaller::InstallPackage(const InstallOrder& order, const std::string& package)
{
    if (std::optional<std::string> problem = PackageProblem(package, PathFindFileName(GetModuleFileName())))
        return problem;
    PackageStaging staging{order.strInstallDir, ChooseStaging(order.strTempDir, order.strInstallDir), {}, {}};
    if (std::optional<std::string> problem = StagingProblem(staging.place.directory))
        return problem;
    staging.journal.staging = JournalPath(order.strInstallDir, staging.place.directory);
    std::vector<std::string> names;
    std::optional<std::string> failure = UnpackIntoStaging(package, staging, names);
    if (!failure)
        failure = PlanPackageMoves(names, staging);
    if (failure) {
        RemoveStaging(staging.place.directory);
        return failure;
    }
    if (std::optional<JournalFailure> failed = InstallByJournal(staging.journal, order.strTempDir, order.strInstallDir, m_files)) {
        if (!failed->move)
            return failed->failure.strSentence;
        return sentence::InThePackage(CannotInstallSentence(staging.entries[*failed->move], failed->error));
    }
    LogNote("unpacked " + std::to_string(names.size()) + " entries of " + PathFindFileName(package));
    return std::nullopt;
}
