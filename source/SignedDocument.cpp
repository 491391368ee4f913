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

// The result of no session for the request: the run could not set one up.
constexpr int kNoSession = 499;

bool IsPageNotFound(const std::string& text)
{
    return text.find(kPageNotFoundGbk) != std::string::npos || text.find(kPageNotFoundUtf8) != std::string::npos;
}

SignedDocument Failed(DocumentFailure failure)
{
    return {{}, std::move(failure)};
}

// Why a text that could not be read whole is no manifest.
SignedDocument Unread(const std::string& strUrl, int result)
{
    if (result == kTextTooLarge) {
        LogLine(strUrl + ": the manifest goes on beyond " + std::to_string(kManifestLimit >> 20) + " MB");
        return Failed({0, sentence::kManifestTooLarge});
    }
    if (result == kTextCutShort)  // part of a manifest lists part of an update: it is never used
        return Failed({0, sentence::kManifestCutShort});
    return Failed({result, {}});
}

DocumentFailure Refused(const std::string& strUrl, const TrustRefusal& refusal)
{
    LogLine(strUrl + ": " + refusal.strDetail);
    return {0, refusal.strSentence};
}

}  // namespace

std::variant<VettedSignature, TrustRefusal> FetchSignature(CUpdateTrust& trust, const std::string& strName,
                                                           const std::string& strUrl, CInternetSession* pSession,
                                                           const RetryPolicy* pRetries)
{
    std::optional<std::string> text = pSession ? ReadSignatureText(strUrl, *pSession, pRetries) : std::nullopt;
    auto vetted = trust.Vet(strName, std::move(text));
    if (const auto* refusal = std::get_if<TrustRefusal>(&vetted))
        LogLine(strUrl + ": " + refusal->strDetail);
    return vetted;
}

SignedDocument FetchSignedDocument(const std::string& strUrl, CUpdateTrust* pTrust, CInternetSession* pSession,
                                   const RetryPolicy* pRetries)
{
    SignedDocument document;
    int status = 0;
    const int result = pSession ? ReadUrlText(strUrl, document.strText, *pSession, &status, pRetries) : kNoSession;
    if (result != 0)
        return Unread(strUrl, result);
    LogNote("GET " + strUrl + ": " + std::to_string(status) + ", " + std::to_string(document.strText.size()) + " bytes");
    // An error page instead of the manifest (a site that moved, a server's own 404 page) means
    // what the Chinese page-not-found text means: the server has no update here.
    if (status >= 400) {
        LogLine(strUrl + ": the server answered " + std::to_string(status) + " instead of the manifest");
        return Failed({546, {}});
    }
    if (IsPageNotFound(document.strText))
        return Failed({546, {}});
    if (!pTrust || !pTrust->Enabled())
        return document;
    // The signature over the manifest's exact bytes, before anything in it is believed.
    auto vetted = FetchSignature(*pTrust, FileNameOfUrl(strUrl), strUrl, pSession, pRetries);
    if (const auto* signature = std::get_if<VettedSignature>(&vetted)) {
        if (std::optional<TrustRefusal> refusal = pTrust->Accept(*signature, document.strText))
            return Failed(Refused(strUrl, *refusal));
        return document;
    }
    return Failed({0, std::get<TrustRefusal>(vetted).strSentence});
}
