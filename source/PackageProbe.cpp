#include "source/PackageProbe.h"

#include <algorithm>
#include <memory>

#include "archive/PackageDirectory.h"
#include "download/RetryPolicy.h"
#include "platform/Internet.h"
#include "platform/Log.h"
#include "policy/Policy.h"

PackageProbe ProbePackage(const std::string& strUrl, CInternetSession* pSession, const RetryPolicy* pRetries)
{
    if (!pSession)
        return {};
    std::unique_ptr<CHttpFile> response;
    RetryWhilePassing(strUrl, pRetries, pSession->GetSettings().pCancel, [&]() -> TryOutcome {
        response.reset();
        try {
            // A HEAD costs the server no body; one that does not know HEAD is asked the old way,
            // with a GET whose body is dropped.
            response = pSession->OpenURL(strUrl, CInternetSession::Request::Headers);
            if (const int status = response->QueryStatus(); status == 405 || status == 501)
                response = pSession->OpenURL(strUrl);
        } catch (const CInternetException& e) {
            LogNote("asked for " + strUrl + ": " + e.GetErrorMessage());
            return FailedBeforeDownloads(e, e.GetErrorMessage());
        }
        const int status = response->QueryStatus();
        LogNote("asked for " + strUrl + ": " + std::to_string(status));
        return {IsPassingStatus(status), "answered " + std::to_string(status), response->QueryRetryAfter()};
    });
    if (!response || response->QueryStatus() == 404)
        return {};
    PackageProbe probe;
    probe.length = response->IsEncoded() ? std::nullopt : response->QueryContentLength();
    probe.answer = response->QueryStatus() >= 400 ? ProbeAnswer::kFailing : ProbeAnswer::kPackage;
    return probe;
}

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
