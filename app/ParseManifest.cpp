#include "app/ParseManifest.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "download/UpdateSession.h"
#include "check/CheckCache.h"
#include "manifest/ManifestReader.h"
#include "manifest/ReadUrlText.h"
#include "platform/Log.h"
#include "platform/Url.h"
#include "trust/UpdateTrust.h"

namespace {

// The server's Chinese page-not-found text, as the GBK bytes its pages are written in and in UTF-8.
constexpr std::string_view kPageNotFoundGbk = "\xCE\xDE\xB7\xA8\xD5\xD2\xB5\xBD\xB8\xC3\xD2\xB3";
constexpr std::string_view kPageNotFoundUtf8 = "无法找到该页";

// Ends the parse with a number for the player.
struct ManifestError {
    int nLine;
};

// The answer is no manifest at all (a parked domain's page, a captive portal's): another server
// may have the real one.
struct NotAManifest {
    std::string strCause;
};

constexpr const char* kNotAManifest = "服务器返回的不是更新清单，已停止更新。";

void CheckPageFound(const std::string& text)
{
    if (text.find(kPageNotFoundGbk) != std::string::npos || text.find(kPageNotFoundUtf8) != std::string::npos)
        throw ManifestError{546};
}

// The manifest's signature over its exact bytes, before anything in it is believed.
std::optional<TrustRefusal> CheckSignature(CUpdateTrust& trust, const std::string& strUrl, const std::string& text,
                                           CInternetSession* pSession, const RetryPolicy* pRetries)
{
    const std::string name = FileNameOfUrl(strUrl);
    auto vetted = trust.Vet(name, ReadSignatureText(strUrl, pSession, pRetries));
    if (auto* refusal = std::get_if<TrustRefusal>(&vetted))
        return *refusal;
    return trust.Accept(std::get<VettedSignature>(vetted), text);
}

// The files are listed only once the whole text has proved a well-formed manifest; then those
// that differ from the installed copies, up to the first entry that cannot be used or whose
// installed copy cannot be read.
void FindChangedFiles(const std::string& strInstallDir, const std::string& strWhere, const std::string& text,
                      ManifestFindings& findings, CCheckCache* pCache)
{
    ManifestListing listing = ReadManifest(text);
    if (!listing.bIsManifest)
        throw NotAManifest{listing.strNotAManifest};
    InstalledFilesCheck check = CheckInstalledFiles(strInstallDir, strWhere, listing, pCache);
    findings.files = std::move(check.files);
    findings.nTotalSize = check.nTotalSize;
    findings.strMessage = std::move(check.strMessage);
    findings.bUpToDate = !check.bStopped && findings.files.empty();
    findings.bFetch = !check.bStopped && !findings.files.empty();
}

// Runs a step of the parse; what ends it is kept for the player. Each ending but an entry that
// cannot be used (or an installed copy that cannot be read) is the server's failing: another one
// may serve the manifest.
ManifestFindings Guarded(const std::string& strUrl, const std::function<void(ManifestFindings&)>& step)
{
    ManifestFindings findings;
    try {
        step(findings);
    } catch (const ManifestError& error) {
        findings.nErrorLine = error.nLine;
        findings.bServerFailed = true;
    } catch (const NotAManifest& notAManifest) {
        LogLine(strUrl + ": " + notAManifest.strCause + ", so it is no manifest");
        findings = {};
        findings.strMessage = kNotAManifest;
        findings.bServerFailed = true;
    }
    return findings;
}

ManifestFindings Refused(const std::string& strUrl, const TrustRefusal& refusal)
{
    LogLine(strUrl + ": " + refusal.strDetail);
    ManifestFindings findings;
    findings.strMessage = refusal.strSentence;
    findings.bServerFailed = true;
    return findings;
}

// The manifest's text, read over the session; why it cannot be, as findings.
std::optional<ManifestFindings> ReadManifestText(const std::string& strUrl, CInternetSession* pSession,
                                                 const RetryPolicy* pRetries, std::string& text, std::string& status)
{
    const int result = pSession ? ReadUrlText(strUrl, text, pSession, &status, pRetries) : 499;
    if (result == 0)
        return std::nullopt;
    ManifestFindings findings;
    findings.bServerFailed = true;
    if (result == kTextTooLarge) {
        LogLine(strUrl + ": the manifest goes on beyond " + std::to_string(kManifestLimit >> 20) + " MB");
        findings.strMessage = "更新清单过大，已停止更新。";
    } else if (result == kTextCutShort) {
        // Part of a manifest lists part of an update: it is never used.
        findings.strMessage = "更新清单没有完整下载，已停止更新。";
    } else {
        findings.nErrorLine = result;
    }
    return findings;
}

}  // namespace

ManifestFindings ParseManifest(const std::string& strInstallDir, const std::string& strUrl, CUpdateTrust* pTrust,
                               CInternetSession* pSession, CCheckCache* pCheckCache, const RetryPolicy* pRetries)
{
    // The manifest and its signature come over one connection: the run's, or one of their own.
    std::unique_ptr<CInternetSession> own;
    if (!pSession) {
        try {
            own = OpenUpdateSession();
        } catch (const CInternetException&) {
        }
    }
    CInternetSession* session = pSession ? pSession : own.get();
    std::string text, status;
    if (std::optional<ManifestFindings> unread = ReadManifestText(strUrl, session, pRetries, text, status))
        return *unread;
    LogNote("GET " + strUrl + ": " + status + ", " + std::to_string(text.size()) + " bytes");
    return Guarded(strUrl, [&](ManifestFindings& findings) {
        // An error page instead of the manifest (a site that moved, a server's own 404 page)
        // means what the Chinese page-not-found text means: the server has no update here.
        if (std::atoi(status.c_str()) >= 400) {
            LogLine(strUrl + ": the server answered " + status + " instead of the manifest");
            throw ManifestError{546};
        }
        CheckPageFound(text);
        if (pTrust && pTrust->Enabled())
            if (std::optional<TrustRefusal> refusal = CheckSignature(*pTrust, strUrl, text, session, pRetries)) {
                findings = Refused(strUrl, *refusal);
                return;
            }
        FindChangedFiles(strInstallDir, strUrl, text, findings, pCheckCache);
    });
}

ManifestFindings ParseManifestText(const std::string& strInstallDir, const std::string& strText, CCheckCache* pCheckCache)
{
    return Guarded("the manifest", [&](ManifestFindings& findings) {
        CheckPageFound(strText);
        FindChangedFiles(strInstallDir, "the manifest", strText, findings, pCheckCache);
    });
}
