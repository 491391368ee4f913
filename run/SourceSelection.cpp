#include "run/SourceSelection.h"

#include <utility>

#include "digest/Blake2b.h"
#include "check/CheckCache.h"
#include "download/DownloadMgr.h"
#include "manifest/ManifestReader.h"
#include "manifest/PackageName.h"
#include "platform/Log.h"
#include "platform/Path.h"
#include "platform/Url.h"
#include "sentences/Sentences.h"
#include "source/PackageProbe.h"
#include "source/SignedDocument.h"
#include "trust/UpdateTrust.h"

namespace {

// Queues the package, never to be read beyond the length the probe was told. With keys, its
// signature is fetched and vetted first (a refusal then comes before any download), and
// checked over the whole package once it has arrived.
SourceChoice QueuePackage(const UpdateSource& source, CDownloadMgr& downloadMgr, const std::string& strPackage,
                          const std::string& strUrl, std::optional<std::uint64_t> length)
{
    SourceChoice choice;
    choice.nTotalSize = choice.nStoredSize = length.value_or(0);
    CUpdateTrust* trust = source.pTrust;
    if (!trust || !trust->Enabled()) {
        choice.nUnpackedSize = PackageUnpackedSize(source.pSession, strUrl, length);
        choice.bQueued = downloadMgr.AddTask(strPackage.c_str(), std::nullopt, {}, length);
        return choice;
    }
    auto vetted = FetchSignature(*trust, PathFindFileName(strPackage), strUrl, source.pSession, source.pRetries);
    if (auto* refusal = std::get_if<Failure>(&vetted)) {
        choice.strMessage = refusal->strSentence;
        return choice;
    }
    // Not a byte of a package whose signature is refused is asked for.
    choice.nUnpackedSize = PackageUnpackedSize(source.pSession, strUrl, length);
    DownloadCheck check = [trust, signature = std::get<VettedSignature>(vetted)](const std::string& strPath,
                                                                                 const Blake2b512Digest& digest) {
        return trust->Accept(signature, digest, strPath);
    };
    choice.bQueued = downloadMgr.AddTask(strPackage.c_str(), std::nullopt, std::move(check), length);
    return choice;
}

// Queues what the manifest found (the files before an entry that ended it too) and says why it
// could not be used.
SourceChoice QueueFindings(CDownloadMgr& downloadMgr, ManifestFindings& findings)
{
    SourceChoice choice;
    choice.nTotalSize = findings.nTotalSize;
    for (ChangedFile& file : findings.files) {
        // A patched file is stored whole beside its patch.
        choice.nStoredSize += file.expected.nSize + (file.expected.patch ? file.expected.patch->nSize : 0);
        downloadMgr.AddListedFile(file.strName, file.strListedName, std::move(file.expected));
    }
    choice.bUpToDate = findings.bUpToDate;
    choice.bQueued = findings.bFetch;
    choice.strMessage = findings.strMessage;
    return choice;
}

bool Stopped(const UpdateSource& source)
{
    return source.pStop && *source.pStop;
}

// The package from the first server that has it with an acceptable signature; nothing when no
// server has it, and the run falls back to the manifest. A server whose signature is refused is
// passed over, and so is one that answers with an error; when no server serves the package in
// good order, the last refusal is the run's, or else the first server that answered with an error
// is taken to have it, and its download meets the error.
std::optional<SourceChoice> QueuePackageFromServers(const UpdateSource& source, CDownloadMgr& downloadMgr,
                                                    const std::vector<std::string>& servers)
{
    const std::string package = PackageName(source.strManifestName);
    std::optional<SourceChoice> refused;
    std::optional<std::pair<std::size_t, std::optional<std::uint64_t>>> failing;  // the server, and the length it told
    for (std::size_t i = 0; i < servers.size() && !Stopped(source); ++i) {
        const std::string url = servers[i] + EncodeUrlPath(package);
        const PackageProbe probe = ProbePackage(url, source.pSession, source.pRetries);
        if (probe.answer == ProbeAnswer::kFailing && !failing)
            failing.emplace(i, probe.length);
        if (probe.answer != ProbeAnswer::kPackage)
            continue;
        downloadMgr.UseServerFirst(i);
        SourceChoice choice = QueuePackage(source, downloadMgr, package, url, probe.length);
        if (choice.bQueued || choice.strMessage.empty())
            return choice;
        refused = std::move(choice);
    }
    if (refused || !failing)
        return refused;
    downloadMgr.UseServerFirst(failing->first);
    return QueuePackage(source, downloadMgr, package, servers[failing->first] + EncodeUrlPath(package), failing->second);
}

// The manifest of one server (the source's choice of it at strUrl), checked against the installed
// files once it proved a manifest.
ManifestFindings FindOnServer(const UpdateSource& source, const std::string& strUrl, CCheckCache* pCheckCache)
{
    ManifestFindings findings;
    findings.bServerFailed = true;  // until the whole text proved a manifest
    const SignedDocument document = FetchSignedDocument(strUrl, source.pTrust, source.pSession, source.pRetries);
    if (document.failure) {
        findings.strMessage = document.failure->strSentence;
        return findings;
    }
    // The files are listed only once the whole text has proved a well-formed manifest.
    ManifestListing listing = ReadManifest(document.strText);
    if (!listing.bIsManifest) {
        LogLine(strUrl + ": " + listing.strNotAManifest + ", so it is no manifest");
        findings.strMessage = sentence::kNotAManifest;
        return findings;
    }
    if (source.pPhases)
        source.pPhases->Enter(RunPhase::kChecking);
    InstalledFilesCheck check = CheckInstalledFiles(source.strInstallDir, strUrl, listing, pCheckCache, source.pStop);
    findings.bServerFailed = false;
    findings.files = std::move(check.files);
    findings.nTotalSize = check.nTotalSize;
    findings.strMessage = std::move(check.strMessage);
    findings.bUpToDate = !check.bStopped && findings.files.empty();
    findings.bFetch = !check.bStopped && !findings.files.empty();
    return findings;
}

}  // namespace

ManifestFindings FindManifestUpdate(const std::string& strInstallDir, const std::string& strUrl, CUpdateTrust* pTrust,
                                    CInternetSession* pSession, CCheckCache* pCheckCache, const RetryPolicy* pRetries,
                                    const std::atomic<bool>* pStop)
{
    UpdateSource source;
    source.strInstallDir = strInstallDir;
    source.pTrust = pTrust;
    source.pSession = pSession;
    source.pRetries = pRetries;
    source.pStop = pStop;
    return FindOnServer(source, strUrl, pCheckCache);
}

SourceChoice QueueUpdate(const UpdateSource& source, CDownloadMgr& downloadMgr)
{
    std::vector<std::string> servers{source.strBaseURL};
    servers.insert(servers.end(), source.mirrorBaseURLs.begin(), source.mirrorBaseURLs.end());
    if (!source.bManifestMode) {
        if (std::optional<SourceChoice> package = QueuePackageFromServers(source, downloadMgr, servers))
            return *package;
        downloadMgr.UseManifestMode();
    }
    std::optional<CCheckCache> cache;
    if (!source.strCheckCache.empty())
        cache.emplace(source.strCheckCache, source.strInstallDir);
    ManifestFindings findings;
    // Each server in turn, until one serves a manifest that can be used; the last one's failure
    // is the player's to read when none does.
    for (std::size_t i = 0; i < servers.size() && !Stopped(source); ++i) {
        findings = FindOnServer(source, servers[i] + EncodeUrlPath(source.strManifestName), cache ? &*cache : nullptr);
        if (!findings.bServerFailed) {
            downloadMgr.UseServerFirst(i);
            break;
        }
    }
    return QueueFindings(downloadMgr, findings);
}
