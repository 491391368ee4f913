#include "check/InstalledFiles.h"

#include <cerrno>

#include "check/CheckCache.h"
#include "check/LocalCheck.h"
#include "platform/Log.h"
#include "sentences/Sentences.h"

namespace {

// The list ends at an entry that cannot be used, or at an installed copy that cannot be read:
// nothing is installed, and the player is told which.
void StopAt(InstalledFilesCheck& check, const std::string& strSentence, const std::string& strCause)
{
    LogLine(strCause + "; the update stops there");
    check.strMessage = strSentence;
    check.bStopped = true;
}

}  // namespace

InstalledFilesCheck CheckInstalledFiles(const std::string& strInstallDir, const std::string& strWhere,
                                        ManifestListing& listing, CCheckCache* pCache, const std::atomic<bool>* pStop)
{
    InstalledFilesCheck check;
    std::vector<ManifestEntry>& entries = listing.entries;
    std::vector<LocalFile> local;
    local.reserve(entries.size());
    for (const ManifestEntry& entry : entries)
        local.push_back({entry.strName, strInstallDir + entry.strName, entry.expected.strMd5});
    const std::vector<LocalResult> states = CheckLocalFiles(local, pCache, pStop);
    if (pStop && *pStop) {
        LogNote(strWhere + ": the check of the installed files was stopped");
        check.bStopped = true;
        if (pCache)
            pCache->Save();  // what was read need not be read again
        return check;
    }
    for (std::size_t i = 0; i < entries.size() && !check.bStopped; ++i) {
        ManifestEntry& entry = entries[i];
        if (states[i].state == LocalState::Unreadable) {
            // A file another program holds (the game, on Windows): the player can close it.
            const bool held = states[i].nErrno == EBUSY;
            StopAt(check, sentence::InstalledFileUnreadable(entry.strName, held ? sentence::FailureReason(EBUSY) : ""),
                   states[i].strError);
        } else if (states[i].state == LocalState::Differs) {
            entry.expected.nMode = EntryMode(entry);
            entry.expected.patch = PatchFrom(entry, states[i].strDigest);
            check.files.push_back({std::move(entry.strName), std::move(entry.strListedName), std::move(entry.expected)});
        }
    }
    if (!check.bStopped && listing.rejection) {
        StopAt(check, listing.rejection->strSentence, strWhere + ": " + listing.rejection->strCause);
    }
    if (pCache)
        pCache->Save();
    for (const ChangedFile& file : check.files)
        check.nTotalSize += file.expected.patch ? file.expected.patch->nSize : file.expected.nSize;
    return check;
}
