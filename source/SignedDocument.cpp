#include "source/SignedDocument.h"

#include <string_view>

#include "platform/Log.h"
#include "platform/Url.h"
#include "sentences/Sentences.h"
#include "source/ReadUrlText.h"

namespace {

// The server's Chinese page-not-found text, as the GBK bytes its pages are written in and in UTF-8.
constexpr std::string_view kPageNotFoundGbk = "\xCE\xDE\xB7\xA8\xD5\xD2\xB5\xBD\xB8\xC3\xD2\xB3";
constexpr std::string_view kPageNotFoundUtf8 = "\xE6\x97\xA0\xE6\xB3\x95\xE6\x89\xBE\xE5\x88\xB0\xE8\xAF\xA5\xE9\xA1\xB5";

// The error numbers the player is shown: the server cannot be reached; the run could not set up
// a session for the request; the server has no manifest there.
constexpr int kUnreachableErrorLine = 493;
constexpr int kNoSessionErrorLine = 499;
constexpr int kNoManifestErrorLine = 546;

bool IsPageNotFound(const std::string& text)
{
    return text.find(kPageNotFoundGbk) != std::string::npos || text.find(kPageNotFoundUtf8) != std::string::npos;
}

SignedDocument Failed(Failure failure)
{
    return {{}, std::move(failure)};
}

// The player is told the number alone.
SignedDocument FailedWithNumber(int nErrorLine, std::string strCause)
{
    return Failed({sentence::ErrorLine(nErrorLine), std::move(strCause)});
}

// The same, its cause written to the log now.
SignedDocument Logged(SignedDocument failed)
{
    LogLine(failed.failure->strCause);
    return failed;
}

// Why a text that could not be read whole is no manifest.
SignedDocument Unread(const std::string& strUrl, TextEnd end)
{
    switch (end) {
    case TextEnd::TooLarge:
        return Logged(Failed({sentence::kManifestTooLarge,
                              strUrl + ": the manifest goes on beyond " + std::to_string(kManifestLimit >> 20) + " MB"}));
    case TextEnd::CutShort:  // part of a manifest lists part of an update: it is never used
        return Failed({sentence::kManifestCutShort, strUrl + ": the manifest was cut short"});
    case TextEnd::Unreachable:
    case TextEnd::Whole:
        break;
    }
    return FailedWithNumber(kUnreachableErrorLine, strUrl + ": the server cannot be reached");
}

// A refused signature: its cause goes to the log, and stays in the failure, with the URL.
Failure Refused(const std::string& strUrl, Failure refusal)
{
    refusal.strCause = strUrl + ": " + refusal.strCause;
    LogLine(refusal.strCause);
    return refusal;
}

}  // namespace

std::variant<VettedSignature, Failure> FetchSignature(CUpdateTrust& trust, const std::string& strName,
                                                      const std::string& strUrl, CInternetSession* pSession,
                                                      const RetryPolicy* pRetries)
{
    std::optional<std::string> text = pSession ? ReadSignatureText(strUrl, *pSession, pRetries) : std::nullopt;
    auto vetted = trust.Vet(strName, std::move(text));
    if (auto* refusal = std::get_if<Failure>(&vetted))
        *refusal = Refused(strUrl, std::move(*refusal));
    return vetted;
}

SignedDocument FetchSignedDocument(const std::string& strUrl, CUpdateTrust* pTrust, CInternetSession* pSession,
                                   const RetryPolicy* pRetries)
{
    if (!pSession)
        return FailedWithNumber(kNoSessionErrorLine, strUrl + ": no session could be opened to ask for it");
    UrlText read = ReadUrlText(strUrl, *pSession, pRetries);
    if (read.end != TextEnd::Whole)
        return Unread(strUrl, read.end);
    const int status = read.nStatus;
    SignedDocument document{std::move(read.strText), std::nullopt};
    LogNote("GET " + strUrl + ": " + std::to_string(status) + ", " + std::to_string(document.strText.size()) + " bytes");
    // An error page instead of the manifest (a site that moved, a server's own 404 page) means
    // what the Chinese page-not-found text means: the server has no update here.
    if (status >= 400)
        return Logged(FailedWithNumber(kNoManifestErrorLine,
                                       strUrl + ": the server answered " + std::to_string(status) + " instead of the manifest"));
    if (IsPageNotFound(document.strText))
        return Logged(FailedWithNumber(kNoManifestErrorLine, strUrl + ": the server sent its page-not-found text"));
    if (!pTrust || !pTrust->Enabled())
        return document;
    // The signature over the manifest's exact bytes, before anything in it is believed.
    auto vetted = FetchSignature(*pTrust, FileNameOfUrl(strUrl), strUrl, pSession, pRetries);
    if (const auto* signature = std::get_if<VettedSignature>(&vetted)) {
        if (std::optional<Failure> refusal = pTrust->Accept(*signature, document.strText))
            return Failed(Refused(strUrl, std::move(*refusal)));
        return document;
    }
    return Failed(std::get<Failure>(std::move(vetted)));  // logged as it was refused
}
