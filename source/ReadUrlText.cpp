#include "source/ReadUrlText.h"

#include <memory>

#include "platform/Internet.h"

#include "download/RetryPolicy.h"
#include "platform/Log.h"

namespace {

struct Document {
    int nResult = 0;
    int nStatus = 0;
};

// One try of ReadDocument's request: what it came to, and whether another may fare better.
TryOutcome ReadOnce(const std::string& strUrl, std::string& strText, std::size_t nLimit, CInternetSession& session,
                    Document& document)
{
    strText.clear();
    document = {};
    std::unique_ptr<CHttpFile> file;
    try {
        file = session.OpenURL(strUrl, CInternetSession::Request::Document);
    } catch (const CInternetException& e) {
        LogLine(strUrl + ": " + e.GetErrorMessage());
        document.nResult = 493;
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
                document.nResult = kTextTooLarge;
                return {};
            }
            strText.append(buffer, n);
        }
    } catch (const CInternetException& e) {
        // What arrived before the failure is kept; the caller learns that it is not all.
        LogLine(strUrl + ": the body was cut short: " + e.GetErrorMessage());
        document.nResult = kTextCutShort;
        // A document is asked for again from its first byte.
        return FailedBeforeDownloads(e, "the body was cut short: " + e.GetErrorMessage());
    }
    if (IsPassingStatus(document.nStatus))
        return {true, "answered " + std::to_string(document.nStatus), file->QueryRetryAfter()};
    return {};
}

// Reads the body into strText up to nLimit bytes; one byte more is kTextTooLarge. A passing
// failure is tried again as the policy says.
Document ReadDocument(const std::string& strUrl, std::string& strText, std::size_t nLimit, CInternetSession& session,
                      const RetryPolicy* pRetries)
{
    strText.clear();
    Document document;
    RetryWhilePassing(strUrl, pRetries, [&] { return ReadOnce(strUrl, strText, nLimit, session, document); });
    return document;
}

}  // namespace

int ReadUrlText(const std::string& strUrl, std::string& strText, CInternetSession& session, int* pStatus,
                const RetryPolicy* pRetries)
{
    Document document = ReadDocument(strUrl, strText, kManifestLimit, session, pRetries);
    if (pStatus)
        *pStatus = document.nStatus;
    return document.nResult;
}

std::optional<std::string> ReadSignatureText(const std::string& strFileUrl, CInternetSession& session,
                                             const RetryPolicy* pRetries)
{
    std::string text;
    Document document = ReadDocument(strFileUrl + ".minisig", text, kSignatureLimit, session, pRetries);
    // A signature cut short is kept: it cannot pass for a whole one.
    if ((document.nResult != 0 && document.nResult != kTextCutShort) || document.nStatus >= 400)
        return std::nullopt;
    return text;
}
