#include "manifest/ParseManifest.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "download/UpdateSession.h"
#include "download/Verification.h"
#include "manifest/CheckCache.h"
#include "manifest/LocalCheck.h"
#include "manifest/ReadUrlText.h"
#include "platform/Log.h"
#include "platform/Path.h"
#include "platform/Url.h"
#include "platform/XmlReader.h"
#include "trust/UpdateTrust.h"

namespace {

// The server's Chinese page-not-found text, as the GBK bytes its pages are written in and in UTF-8.
constexpr std::string_view kPageNotFoundGbk = "\xCE\xDE\xB7\xA8\xD5\xD2\xB5\xBD\xB8\xC3\xD2\xB3";
constexpr std::string_view kPageNotFoundUtf8 = "无法找到该页";

// Ends the parse with a number for the player.
struct ManifestError {
    int nLine;
};

// Ends the list at an entry that cannot be used; the cause is for the log.
struct ManifestRejected {
    std::string strCause;
};

// The answer is no manifest at all (a parked domain's page, a captive portal's): another server
// may have the real one.
struct NotAManifest {
    std::string strCause;
};

constexpr const char* kNotAManifest = "服务器返回的不是更新清单，已停止更新。";

std::string ReadAttribute(const CXmlAttributes& element, const char* name)
{
    std::optional<std::string> value = element.Get(name);
    if (!value)
        throw ManifestRejected{std::string("it has no ") + name + " attribute"};
    return *value;
}

// A decimal number that fits 32 bits unsigned, with blanks around it allowed.
std::uint32_t ParseFileSize(std::string_view text)
{
    auto first = text.find_first_not_of(" \t\r\n");
    auto last = text.find_last_not_of(" \t\r\n");
    const auto notASize = [text] {
        return ManifestRejected{"its filesize \"" + std::string(text) + "\" is not a number of bytes below 4 GiB"};
    };
    if (first == std::string_view::npos)
        throw notASize();
    std::uint64_t value = 0;
    for (char c : text.substr(first, last - first + 1)) {
        if (c < '0' || c > '9')
            throw notASize();
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 0xFFFFFFFFu)
            throw notASize();
    }
    return static_cast<std::uint32_t>(value);
}

// The permission bits of a "mode" attribute: octal digits up to 777. Any other value is passed
// over, and said: the file is installed as if its entry had none.
std::optional<unsigned> ParseMode(const std::string& filename, const std::optional<std::string>& text)
{
    if (!text)
        return std::nullopt;
    unsigned mode = 0;
    bool valid = !text->empty();
    for (char c : *text)
        valid = valid && c >= '0' && c <= '7' && (mode = mode * 8 + static_cast<unsigned>(c - '0')) <= 0777;
    if (valid)
        return mode;
    LogLine(filename + ": the mode \"" + *text + "\" is not octal permission bits up to 777 and is ignored");
    return std::nullopt;
}

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

// A patch an entry offers: the earlier version's digest, and the patch.
struct PatchOffer {
    std::string strFrom;
    tagPatchSource source;
};

// A listed file, with its "mode" text and its patches until the file proves to be one to download.
struct Entry {
    ChangedFile file;
    std::optional<std::string> modeText;
    std::vector<PatchOffer> patches = {};
};

// A patch element as the download would need it; one that cannot be used is passed over, and
// its file is fetched whole.
std::optional<PatchOffer> ReadPatch(const std::string& filename, const CXmlAttributes& patch)
{
    try {
        PatchOffer offer{NormalizedDigest(ReadAttribute(patch, "from")),
                         {ReadAttribute(patch, "filename"), ParseFileSize(ReadAttribute(patch, "filesize")),
                          ReadAttribute(patch, "md5"), patch.Get("sha256").value_or("")}};
        if (IsContainedRelativePath(offer.source.strName))
            return offer;
    } catch (const ManifestRejected&) {
    }
    LogLine(filename + ": a patch element that cannot be used is passed over");
    return std::nullopt;
}

// The patch from the installed version, when the entry offers one.
std::optional<tagPatchSource> PatchFrom(const std::string& installedDigest, const std::vector<PatchOffer>& patches)
{
    if (installedDigest.empty())
        return std::nullopt;
    for (const PatchOffer& offer : patches)
        if (offer.strFrom == installedDigest)
            return offer.source;
    return std::nullopt;
}

// A name is joined to the installation directory, which ends in a separator: leading separators
// name the same file as none ("\data\town.dat" is "data\town.dat").
std::string WithoutLeadingSeparators(std::string name)
{
    return name.erase(0, std::min(name.size(), name.find_first_not_of("\\/")));
}

// The entry as the download will need it. Throws ManifestRejected when it cannot be used.
Entry ReadEntry(const CXmlAttributes& file)
{
    std::string filename = WithoutLeadingSeparators(ReadAttribute(file, "filename"));
    std::uint32_t filesize = ParseFileSize(ReadAttribute(file, "filesize"));
    ReadAttribute(file, "fileversion");
    std::string md5 = ReadAttribute(file, "md5");
    if (filename.empty() || !IsContainedRelativePath(filename))
        throw ManifestRejected{"its name leads out of the installation directory"};
    return {ChangedFile{std::move(filename), {filesize, std::move(md5), file.Get("sha256").value_or(""), {}}},
            file.Get("mode")};
}

// Where the list of entries ended early: the entry, as the player may recognise it, and why.
struct EntryRejection {
    std::string strEntry;
    std::string strCause;
};

// What a manifest lists: its entries up to the first that cannot be used, which ends the list
// there; "Reg.Local" is passed over.
struct Listing {
    std::vector<Entry> entries;
    std::optional<EntryRejection> rejection;
};

// Throws NotAManifest when the text is not a well-formed document whose root is "manifest".
Listing ReadEntries(const std::string& text)
{
    Listing listing;
    std::vector<Entry>& entries = listing.entries;
    bool isManifest = false;
    bool lastKept = false;  // the patches that follow belong to the entry last kept
    std::size_t count = 0;
    enum Path : std::size_t { kRoot, kFile, kPatch };
    const std::vector<std::vector<std::string>> paths = {
        {"manifest"}, {"manifest", "filelist", "file"}, {"manifest", "filelist", "file", "patch"}};
    const bool wellFormed = ReadXmlElements(text, paths, [&](std::size_t path, const CXmlAttributes& element) {
        if (path == kRoot)
            isManifest = true;
        if (path == kRoot || listing.rejection)
            return;
        if (path == kPatch) {
            if (lastKept)
                if (std::optional<PatchOffer> offer = ReadPatch(entries.back().file.strName, element))
                    entries.back().patches.push_back(std::move(*offer));
            return;
        }
        lastKept = false;
        ++count;
        try {
            Entry entry = ReadEntry(element);
            if (entry.file.strName != "Reg.Local") {
                entries.push_back(std::move(entry));
                lastKept = true;
            }
        } catch (const ManifestRejected& rejected) {
            const std::optional<std::string> name = element.Get("filename");
            listing.rejection = EntryRejection{name ? *name : "第 " + std::to_string(count) + " 项",
                                               "entry " + std::to_string(count) + " (" + name.value_or("no name") +
                                                   ") cannot be used: " + rejected.strCause};
        }
    });
    if (!wellFormed)
        throw NotAManifest{"the answer is not a well-formed XML document"};
    if (!isManifest)
        throw NotAManifest{"the answer's root element is not manifest"};
    return listing;
}

// The list ends at an entry that cannot be used, or at an installed copy that cannot be read:
// nothing is installed, and the player is told which.
void StopAt(ManifestFindings& findings, const std::string& strSentence, const std::string& strCause)
{
    LogLine(strCause + "; the update stops there");
    findings.strMessage = strSentence;
}

// The files are listed only once the whole text has proved a well-formed manifest; then those
// that differ from the installed copies, up to the first entry that cannot be used or whose
// installed copy cannot be read.
void FindChangedFiles(const std::string& strInstallDir, const std::string& strWhere, const std::string& text,
                      ManifestFindings& findings, CCheckCache* pCache)
{
    Listing listing = ReadEntries(text);
    std::vector<Entry>& entries = listing.entries;
    std::vector<LocalFile> local;
    local.reserve(entries.size());
    for (const Entry& entry : entries)
        local.push_back({entry.file.strName, strInstallDir + entry.file.strName, entry.file.expected.strMd5});
    const std::vector<LocalResult> states = CheckLocalFiles(local, pCache);
    std::vector<ChangedFile> changed;
    bool stopped = false;
    for (std::size_t i = 0; i < entries.size() && !stopped; ++i) {
        Entry& entry = entries[i];
        if (states[i].state == LocalState::Unreadable) {
            StopAt(findings, "已安装的文件 " + entry.file.strName + " 无法读取，已停止更新。", states[i].strError);
            stopped = true;
        } else if (states[i].state == LocalState::Differs) {
            entry.file.expected.nMode = ParseMode(entry.file.strName, entry.modeText);
            entry.file.expected.patch = PatchFrom(states[i].strDigest, entry.patches);
            changed.push_back(std::move(entry.file));
        }
    }
    if (!stopped && listing.rejection) {
        StopAt(findings, "更新清单中的 " + listing.rejection->strEntry + " 无法使用，已停止更新。",
               strWhere + ": " + listing.rejection->strCause);
        stopped = true;
    }
    if (pCache)
        pCache->Save();
    // What is fetched: a file's patch when there is one for the installed version.
    for (const ChangedFile& file : changed)
        findings.nTotalSize += file.expected.patch ? file.expected.patch->nSize : file.expected.nSize;
    findings.files = std::move(changed);
    if (stopped)
        return;
    findings.bUpToDate = findings.files.empty();
    findings.bFetch = !findings.files.empty();
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
