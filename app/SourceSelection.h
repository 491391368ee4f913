#pragma once
// Where a run's files come from. In package mode the server is asked for the package (the
// manifest name with ".zip" for ".xml"); when it answers 404 or cannot be asked, the run falls
// back to the manifest, once. In manifest mode the manifest's changed files are queued. Why a
// source cannot be used is told to the player here, in one message box.

#include <cstdint>
#include <string>

#include "platform/Window.h"

class CDownloadMgr;
class CUpdateTrust;
struct TrustRefusal;

// What the choice of source works on: the installation directory, the run's total download
// size and its download manager; the window owns the message box.
struct ManifestTarget {
    const std::string& strInstallDir;
    std::uint64_t& nTotalSize;
    CDownloadMgr& downloadMgr;
    HWND hOwner = nullptr;
    CUpdateTrust* pTrust = nullptr;  // with keys: the manifest and the package must be signed
    bool bUpToDate = false;          // set when the whole manifest was read and nothing differs
};

// Queues this run's downloads on the target's manager: true when anything was queued and the
// source was wholly usable. Sets g_bManifestMode to 1 on a fallback and the target's total size
// from the package's length or the manifest's files.
bool QueueUpdate(ManifestTarget& target, const std::string& strBaseURL);

// Tells the player in one sentence why a signed file was refused; the particulars go to the log.
void ShowTrustRefusal(HWND hOwner, const TrustRefusal& refusal);
