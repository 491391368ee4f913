#pragma once
// The manifest step of a manifest update: fetches the XML manifest, compares every listed file
// with the installed copy by its MD5 digest and queues those that are missing or differ.

#include <cstdint>
#include <string>

#include "platform/Window.h"

class CDownloadMgr;
class CUpdateTrust;
struct TrustRefusal;

// What the manifest step works on: the update window's installation directory, its total
// download size and its download manager; the window owns the message box.
struct ManifestTarget {
    const std::string& strInstallDir;
    std::uint64_t& nTotalSize;
    CDownloadMgr& downloadMgr;
    HWND hOwner = nullptr;
    CUpdateTrust* pTrust = nullptr;  // with keys: the manifest must be signed
    bool bUpToDate = false;          // set when the whole manifest was read and nothing differs
};

// True when at least one file was queued, each with what the manifest says it is. False when nothing needs downloading or the manifest
// cannot be used; files queued before a failure stay queued. A failure to reach the server or a
// page-not-found answer shows one message box, and so do a manifest beyond its size limit and a
// signature refused; every other failure is silent.
bool ParseManifest(ManifestTarget& target, const std::string& strUrl);
// The same for a manifest text already fetched.
bool ParseManifestText(ManifestTarget& target, const std::string& strText);

// Tells the player in one sentence why a signed file was refused; the particulars go to the log.
void ShowTrustRefusal(HWND hOwner, const TrustRefusal& refusal);
