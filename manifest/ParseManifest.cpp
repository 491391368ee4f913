#include "manifest/ParseManifest.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "download/DownloadMgr.h"
#include "download/MD5Checksum.h"
#include "download/UpdateSession.h"
#include "manifest/ReadUrlText.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/MessageBox.h"
#include "platform/Path.h"
#include "platform/Url.h"
#include "platform/XmlReader.h"
#include "trust/UpdateTrust.h"

namespace {

// The server's Chinese page-not-found text, as the GBK bytes its pages are written in and in UTF-8.
constexpr std::string_view kPageNotFoundGbk = "\xCE\xDE\xB7\xA8\xD5\xD2\xB5\xBD\xB8\xC3\xD2\xB3";
constexpr std::string_view kPageNotFoundUtf8 = "无法找到该页";

// Ends the parse with a message box showing its number.
struct ManifestError {
    int nLine;
};

// Ends the parse without a message.
struct ManifestRejected {};

std::string ReadAttribute(const CXmlAttributes& element, const char* name)
{
    std::optional<std::string> value = element.Get(name);
    if (!value)
        throw ManifestRejected{};
    return *value;
}

// A decimal number that fits 32 bits unsigned, with blanks around it allowed.
std::uint32_t ParseFileSize(std::string_view text)
{
    auto first = text.find_first_not_of(" \t\r\n");
    auto last = text.find_last_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        throw ManifestRejected{};
    std::uint64_t value = 0;
    for (char c : text.substr(first, last - first + 1)) {
        if (c < '0' || c > '9')
            throw ManifestRejected{};
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 0xFFFFFFFFu)
            throw ManifestRejected{};
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

bool NeedsDownload(const std::string& strLocalPath, const std::string& strDigest)
{
    if (!PathFileExists(strLocalPath))
        return true;
    // Only regular files are read: anything else at a listed name (a FIFO, a device, a link to
    // one) would make the check wait or read for ever. It differs, and is replaced.
    if (!PathIsRegularFile(strLocalPath) && !PathIsDirectory(strLocalPath))
        return true;
    try {
        return CMD5Checksum::HashFile(strLocalPath) != strDigest;
    } catch (const CFileException&) {
        throw ManifestRejected{};
    }
}

void CheckPageFound(const std::string& text)
{
    if (text.find(kPageNotFoundGbk) != std::string::npos || text.find(kPageNotFoundUtf8) != std::string::npos)
        throw ManifestError{546};
}

// The manifest's signature over its exact bytes, before anything in it is believed.
std::optional<TrustRefusal> CheckSignature(CUpdateTrust& trust, const std::string& strUrl, const std::string& text,
                                           CInternetSession* pSession)
{
    const std::string name = FileNameOfUrl(strUrl);
    auto vetted = trust.Vet(name, ReadSignatureText(strUrl, pSession));
    if (auto* refusal = std::get_if<TrustRefusal>(&vetted))
        return *refusal;
    return trust.Accept(std::get<VettedSignature>(vetted), text);
}

// A file the manifest lists that must be downloaded.
struct ChangedFile {
    std::string strName;
    tagExpectedFile expected;
};

// The entry's file when it must be downloaded. Throws ManifestRejected when the entry cannot be
// used; "Reg.Local" is passed over.
std::optional<ChangedFile> CheckEntry(const ManifestTarget& target, const CXmlAttributes& file)
{
    std::string filename = ReadAttribute(file, "filename");
    std::uint32_t filesize = ParseFileSize(ReadAttribute(file, "filesize"));
    ReadAttribute(file, "fileversion");
    std::string md5 = ReadAttribute(file, "md5");
    if (!IsContainedRelativePath(filename))
        throw ManifestRejected{};
    if (filename == "Reg.Local" || !NeedsDownload(target.strInstallDir + filename, md5))
        return std::nullopt;
    std::optional<unsigned> mode = ParseMode(filename, file.Get("mode"));
    return ChangedFile{std::move(filename), {filesize, std::move(md5), file.Get("sha256").value_or(""), mode}};
}

// The entries are checked as the text streams by; they are queued only once the whole text has
// proved well-formed, as a document that is not lists nothing at all.
bool QueueChangedFiles(ManifestTarget& target, const std::string& text)
{
    std::vector<ChangedFile> changed;
    bool stopped = false;  // an entry that cannot be used ends the list there
    const bool wellFormed = ReadXmlElements(text, {"manifest", "filelist", "file"}, [&](const CXmlAttributes& file) {
        if (stopped)
            return;
        try {
            if (std::optional<ChangedFile> entry = CheckEntry(target, file))
                changed.push_back(std::move(*entry));
        } catch (const ManifestRejected&) {
            stopped = true;
        }
    });
    if (!wellFormed)
        return false;
    for (ChangedFile& file : changed) {
        target.nTotalSize += file.expected.nSize;
        target.downloadMgr.AddTask(file.strName.c_str(), std::move(file.expected));
    }
    if (stopped)
        throw ManifestRejected{};
    target.bUpToDate = changed.empty();
    return !changed.empty();
}

void ShowErrorLine(HWND hOwner, int nLine)
{
    char text[32];
    std::snprintf(text, sizeof text, "Error line:%d\n", nLine);
    MessageBox(hOwner, text, "提示", MB_OK | MB_ICONEXCLAMATION);
}

// Runs a step of the parse; its failures end it as they should: a number in a box, or silently.
bool Guarded(ManifestTarget& target, const std::function<bool()>& step)
{
    try {
        return step();
    } catch (const ManifestError& error) {
        ShowErrorLine(target.hOwner, error.nLine);
    } catch (const ManifestRejected&) {
    }
    return false;
}

}  // namespace

void ShowTrustRefusal(HWND hOwner, const TrustRefusal& refusal)
{
    LogLine(refusal.strDetail);
    MessageBox(hOwner, refusal.strSentence.c_str(), "提示", MB_OK | MB_ICONEXCLAMATION);
}

bool ParseManifest(ManifestTarget& target, const std::string& strUrl)
{
    std::string text;
    // The manifest and its signature come over one connection.
    std::unique_ptr<CInternetSession> session;
    try {
        session = OpenDocumentSession("UrlTest");
    } catch (const CInternetException&) {
    }
    std::string status;
    if (int result = session ? ReadUrlText(strUrl, text, session.get(), &status) : 499) {
        if (result == kTextTooLarge) {
            LogLine(strUrl + ": the manifest goes on beyond " + std::to_string(kManifestLimit >> 20) + " MB");
            MessageBox(target.hOwner, "更新清单过大，已停止更新。", "提示", MB_OK | MB_ICONEXCLAMATION);
        } else if (result == kTextCutShort) {
            // Part of a manifest lists part of an update: it is never used.
            MessageBox(target.hOwner, "更新清单没有完整下载，已停止更新。", "提示", MB_OK | MB_ICONEXCLAMATION);
        } else {
            ShowErrorLine(target.hOwner, result);
        }
        return false;
    }
    return Guarded(target, [&] {
        // An error page instead of the manifest (a site that moved, a server's own 404 page)
        // means what the Chinese page-not-found text means: the server has no update here.
        if (std::atoi(status.c_str()) >= 400) {
            LogLine(strUrl + ": the server answered " + status + " instead of the manifest");
            throw ManifestError{546};
        }
        CheckPageFound(text);
        if (target.pTrust && target.pTrust->Enabled())
            if (std::optional<TrustRefusal> refusal = CheckSignature(*target.pTrust, strUrl, text, session.get())) {
                ShowTrustRefusal(target.hOwner, *refusal);
                return false;
            }
        return QueueChangedFiles(target, text);
    });
}

bool ParseManifestText(ManifestTarget& target, const std::string& strText)
{
    return Guarded(target, [&] {
        CheckPageFound(strText);
        return QueueChangedFiles(target, strText);
    });
}
