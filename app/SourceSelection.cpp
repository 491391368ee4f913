#include "app/SourceSelection.h"
#include "app/ParseManifest.h"

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <memory>
#include <utility>

#include "archive/PackageDirectory.h"
#include "download/DownloadMgr.h"
#include "download/RetryPolicy.h"
#include "download/UpdateSession.h"
#include "check/CheckCache.h"
#include "manifest/PackageName.h"
#include "manifest/ReadUrlText.h"
#include "platform/Log.h"
#include "platform/Path.h"
#include "platform/Url.h"
#include "trust/UpdateTrust.h"

namespace {

// What a server answered when asked for the package.
enum class ProbeAnswer {
    kPackage,   // it has the package
    kNotFound,  // it has none (404), or cannot be asked
    kFailing,   // an error status even after the tries: it may have the package, or may not
};

// Asks for the package and reads only the headers (a passing failure is asked again); the
// package's length, when the server gave one.
ProbeAnswer ProbePackage(const UpdateSource& source, const std::string& strUrl, std::optional<std::uint64_t>& length)
{
    std::unique_ptr<CInternetSession> own;
    CInternetSession* session = source.pSession;
    std::unique_ptr<CHttpFile> response;
    RetryWhilePassing(strUrl, source.pRetries, [&]() -> TryOutcome {
        response.reset();
        try {
            if (!session)
                session = (own = OpenUpdateSession()).get();
            // A HEAD costs the server no body; one that does not know HEAD is asked the old way,
            // with a GET whose body is dropped.
            response = session->OpenURL(strUrl, CInternetSession::Request::Headers);
            if (const std::string status = response->QueryStatusCode(); status == "405" || status == "501")
                response = session->OpenURL(strUrl);
        } catch (const CInternetException& e) {
            LogNote("asked for " + strUrl + ": " + e.GetErrorMessage());
            return FailedBeforeDownloads(e, e.GetErrorMessage());
        }
        const std::string status = response->QueryStatusCode();
        LogNote("asked for " + strUrl + ": " + status);
        return {IsPassingStatus(std::atoi(status.c_str())), "answered " + status, response->QueryRetryAfter()};
    });
    if (!response || response->QueryStatusCode() == "404")
        return ProbeAnswer::kNotFound;
    length = response->IsEncoded() ? std::nullopt : response->QueryContentLength();
    return std::atoi(response->QueryStatusCode().c_str()) >= 400 ? ProbeAnswer::kFailing : ProbeAnswer::kPackage;
}

// How much of a package's end is asked for to learn what it unpacks to: the central directory of
// a few thousand entries.
constexpr std::uint64_t kPackageTail = 256 * 1024;

// What the package unpacks to, from its central directory, asked for by itself (a range request
// for the package's end) before the package; nothing when the server sends no such part or the
// directory is larger.
std::optional<std::uint64_t> PackageUnpackedSize(CInternetSession* pSession, const std::string& strUrl,
                                                 std::optional<std::uint64_t> length)
{
    if (!pSession || !length || *length == 0)
        return std::nullopt;
    const std::uint64_t from = *length - std::min(*length, kPackageTail);
    try {
        std::unique_ptr<CHttpFile> response =
            pSession->OpenURL(strUrl, CInternetSession::Request::File, CInternetSession::ByteRange{from, {}});
        // Only the package's very end, of the length the probe was told, can be read as its end.
        if (response->QueryPartStart() != from ||
            !response->QueryHeader("Content-Range").ends_with("/" + std::to_string(*length)))
            return std::nullopt;
        std::string tail(static_cast<std::size_t>(*length - from), '\0');
        if (response->Read(tail.data(), tail.size()) != tail.size())
            return std::nullopt;
        std::optional<std::uint64_t> size = UnpackedSizeFromTail(tail, *length);
        LogNote("asked for the last " + std::to_string(tail.size()) + " bytes of " + strUrl + ": " +
                (size ? "it unpacks to " + std::to_string(*size) + " bytes" : "no central directory within them"));
        return size;
    } catch (const CInternetException& e) {
        LogNote("asked for the end of " + strUrl + ": " + e.GetErrorMessage());
        return std::nullopt;
    }
}

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
    auto vetted = trust->Vet(PathFindFileName(strPackage), ReadSignatureText(strUrl, source.pSession, source.pRetries));
    if (auto* refusal = std::get_if<TrustRefusal>(&vetted)) {
        LogLine(strUrl + ": " + refusal->strDetail);
        choice.strMessage = refusal->strSentence;
        return choice;
    }
    // Not a byte of a package whose signature is refused is asked for.
    choice.nUnpackedSize = PackageUnpackedSize(source.pSession, strUrl, length);
    DownloadCheck check = [trust, signature = std::get<VettedSignature>(vetted)](const std::string& strPath,
                                                                                 const Blake2b512Digest& digest) {
        std::optional<TrustRefusal> refusal = trust->Accept(signature, digest, strPath);
        if (!refusal)
            return std::string();
        LogLine(refusal->strDetail);
        return refusal->strSentence;
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
        downloadMgr.AddTask(file.strName.c_str(), std::move(file.expected));
    }
    choice.bUpToDate = findings.bUpToDate;
    choice.bQueued = findings.bFetch;
    if (findings.nErrorLine) {
        char text[32];
        std::snprintf(text, sizeof text, "Error line:%d\n", findings.nErrorLine);
        choice.strMessage = text;
    } else {
        choice.strMessage = findings.strMessage;
    }
    return choice;
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
    for (std::size_t i = 0; i < servers.size(); ++i) {
        std::optional<std::uint64_t> length;
        const std::string url = servers[i] + EncodeUrlPath(package);
        const ProbeAnswer answer = ProbePackage(source, url, length);
        if (answer == ProbeAnswer::kFailing && !failing)
            failing.emplace(i, length);
        if (answer != ProbeAnswer::kPackage)
            continue;
        downloadMgr.UseServerFirst(i);
        SourceChoice choice = QueuePackage(source, downloadMgr, package, url, length);
        if (choice.bQueued || choice.strMessage.empty())
            return choice;
        refused = std::move(choice);
    }
    if (refused || !failing)
        return refused;
    downloadMgr.UseServerFirst(failing->first);
    return QueuePackage(source, downloadMgr, package, servers[failing->first] + EncodeUrlPath(package), failing->second);
}

}  // namespace

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
    for (std::size_t i = 0; i < servers.size(); ++i) {
        findings = ParseManifest(source.strInstallDir, servers[i] + EncodeUrlPath(source.strManifestName), source.pTrust,
                                 source.pSession, cache ? &*cache : nullptr, source.pRetries);
        if (!findings.bServerFailed) {
            downloadMgr.UseServerFirst(i);
            break;
        }
    }
    return QueueFindings(downloadMgr, findings);
}
