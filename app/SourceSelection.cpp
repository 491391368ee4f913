#include "app/SourceSelection.h"

#include <cstdio>
#include <memory>

#include "download/DownloadMgr.h"
#include "download/Globals.h"
#include "download/UpdateSession.h"
#include "manifest/PackageName.h"
#include "manifest/ParseManifest.h"
#include "manifest/ReadUrlText.h"
#include "platform/Log.h"
#include "platform/MessageBox.h"
#include "platform/Path.h"
#include "platform/Url.h"
#include "trust/UpdateTrust.h"

namespace {

// Asks for the package with one request and reads only the headers. False when the server
// has no such package or cannot be asked; the package's length, when the server gave one.
bool ProbePackage(ManifestTarget& target, const std::string& strUrl, std::optional<std::uint64_t>& length)
{
    try {
        std::unique_ptr<CInternetSession> session = OpenUpdateSession();
        // A HEAD costs the server no body; one that does not know HEAD is asked the old way, with
        // a GET whose body is dropped.
        std::unique_ptr<CHttpFile> response = session->OpenURL(strUrl, true);
        if (const std::string status = response->QueryStatusCode(); status == "405" || status == "501")
            response = session->OpenURL(strUrl);
        if (response->QueryStatusCode() == "404")
            return false;
        // Any other answer means the package is there; the worker meets any error page.
        length = response->IsEncoded() ? std::nullopt : response->QueryContentLength();
        if (length)
            target.nTotalSize = *length;
        return true;
    } catch (const CInternetException&) {
        return false;
    }
}

// Queues the package, never to be read beyond the length the probe was told. With keys, its
// signature is fetched and vetted first (a refusal then comes before any download), and
// checked over the whole package once it has arrived.
bool QueuePackage(ManifestTarget& target, const std::string& strPackage, const std::string& strUrl,
                  std::optional<std::uint64_t> length)
{
    if (!target.pTrust || !target.pTrust->Enabled())
        return target.downloadMgr.AddTask(strPackage.c_str(), std::nullopt, {}, length);
    auto vetted = target.pTrust->Vet(PathFindFileName(strPackage), ReadSignatureText(strUrl));
    if (auto* refusal = std::get_if<TrustRefusal>(&vetted)) {
        ShowTrustRefusal(target.hOwner, *refusal);
        return false;
    }
    CUpdateTrust* trust = target.pTrust;
    DownloadCheck check = [trust, signature = std::get<VettedSignature>(vetted)](const std::string& strPath,
                                                                                 const Blake2b512Digest& digest) {
        std::optional<TrustRefusal> refusal = trust->Accept(signature, digest, strPath);
        if (!refusal)
            return std::string();
        LogLine(refusal->strDetail);
        return refusal->strSentence;
    };
    return target.downloadMgr.AddTask(strPackage.c_str(), std::nullopt, std::move(check), length);
}

// Queues what the manifest found (the files before an entry that ended it too) and tells the
// player why it could not be used.
bool QueueFindings(ManifestTarget& target, ManifestFindings& findings)
{
    for (ChangedFile& file : findings.files) {
        target.nTotalSize += file.expected.nSize;
        target.downloadMgr.AddTask(file.strName.c_str(), std::move(file.expected));
    }
    target.bUpToDate = findings.bUpToDate;
    if (findings.nErrorLine) {
        char text[32];
        std::snprintf(text, sizeof text, "Error line:%d\n", findings.nErrorLine);
        MessageBox(target.hOwner, text, "提示", MB_OK | MB_ICONEXCLAMATION);
    } else if (!findings.strMessage.empty()) {
        MessageBox(target.hOwner, findings.strMessage.c_str(), "提示", MB_OK | MB_ICONEXCLAMATION);
    }
    return findings.bFetch;
}

}  // namespace

void ShowTrustRefusal(HWND hOwner, const TrustRefusal& refusal)
{
    LogLine(refusal.strDetail);
    MessageBox(hOwner, refusal.strSentence.c_str(), "提示", MB_OK | MB_ICONEXCLAMATION);
}

bool QueueUpdate(ManifestTarget& target, const std::string& strBaseURL)
{
    if (g_bManifestMode != 1) {
        const std::string package = PackageName(g_strManifestName);
        std::optional<std::uint64_t> length;
        const std::string url = strBaseURL + EncodeUrlPath(package);
        if (ProbePackage(target, url, length))
            return QueuePackage(target, package, url, length);
        g_bManifestMode = 1;
    }
    ManifestFindings findings = ParseManifest(target.strInstallDir, strBaseURL + EncodeUrlPath(g_strManifestName), target.pTrust);
    return QueueFindings(target, findings);
}
