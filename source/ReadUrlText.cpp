#include "source/ReadUrlText.h"

#include <memory>

#include "platform/Internet.h"

#include "download/RetryPolicy.h"
#include "platform/Log.h"

namespace {

// One try of ReadDocument's request: what it came to, and whether another may fare better.
TryOutcome ReadOnce(const std::string& strUrl, std::size_t nLimit, CInternetSession& session, UrlText& document)
{
    document = {};
    std::string& strText = document.strText;
    std::unique_ptr<CHttpFile> file;
    try {
        file = session.OpenURL(strUrl, CInternetSession::Request::Document);
    } catch (const CInternetException& e) {
        LogLine(strUrl + ": " + e.GetErrorMessage());
        document.end = TextEnd::Unreachable;
        return FailedBeforeDownloads(e, e.GetErrorMessage());
    }
    document.nStatus = file->QueryStatus();
    if (auto length = file->QueryContentLength(); length && *length <= nLimit)
        strText.reserve(static_cast<std::size_t>(*length));
    char buffer[16384];
    try {
        while (std::size_t n = file->Read(buffer, sizeof buffer)) {
            if (strText.size() + n > nLimit) {
                strText.clear();
                strText.shrink_to_fit();
                document.end = TextEnd::TooLarge;
                return {};
            }
            strText.append(buffer, n);
        }
    } catch (const CInternetException& e) {
        // What arrived before the failure is kept; the caller learns that it is not all.
        LogLine(strUrl + ": the body was cut short: " + e.GetErrorMessage());
        document.end = TextEnd::CutShort;
        // A document is asked for again from its first byte; its server did answer.
        TryOutcome outcome = FailedBeforeDownloads(e, "the body was cut short: " + e.GetErrorMessage());
        outcome.bConnectionLost = false;
        return outcome;
    }
    if (IsPassingStatus(document.nStatus))
        return {true, "answered " + std::to_string(document.nStatus), file->QueryRetryAfter()};
    return {};
}

// Reads the body up to nLimit bytes; one byte more is TooLarge. A passing failure is tried again
// as the policy says.
UrlText ReadDocument(const std::string& strUrl, std::size_t nLimit, CInternetSession& session, const RetryPolicy* pRetries)
{
    UrlText document;
    RetryWhilePassing(strUrl, pRetries, session.GetSettings().pCancel,
                      [&] { return ReadOnce(strUrl, nLimit, session, document); });
    return document;
}

}  // namespace

UrlText ReadUrlText(const std::string& strUrl, CInternetSession& session, const RetryPolicy* pRetries)
{
    return ReadDocument(strUrl, kManifestLimit, session, pRetries);
}

std::optional<std::string> ReadSignatureText(const std::string& strFileUrl, CInternetSession& session,
                                             const RetryPolicy* pRetries)
{
    UrlText document = ReadDocument(strFileUrl + ".minisig", kSignatureLimit, session, pRetries);
    // A signature cut short is kept: it cannot pass for a whole one.
    const bool read = document.end == TextEnd::Whole || document.end == TextEnd::CutShort;
    if (!read || document.nStatus >= 400)
        return std::nullopt;
    return std::move(document.strText);
}
