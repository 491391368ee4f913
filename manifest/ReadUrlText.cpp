#include "manifest/ReadUrlText.h"

#include <cstdlib>
#include <memory>

#include "download/UpdateSession.h"
#include "platform/Log.h"

namespace {

// A minisign signature is four short lines; anything much larger is not one.
constexpr std::size_t kSignatureLimit = 64 * 1024;

struct Document {
    int nResult = 0;
    std::string strStatus;
};

// Reads the body into strText up to nLimit bytes; one byte more is kTextTooLarge. Without a
// session of the caller's, one is opened for this request.
Document ReadDocument(const std::string& strUrl, std::string& strText, std::size_t nLimit, CInternetSession* pSession)
{
    strText.clear();
    std::unique_ptr<CInternetSession> own;
    if (!pSession) {
        try {
            own = OpenUpdateSession();
        } catch (const CInternetException&) {
            return {499, {}};
        }
        pSession = own.get();
    }
    CInternetSession* session = pSession;
    std::unique_ptr<CHttpFile> file;
    try {
        file = session->OpenURL(strUrl, CInternetSession::Request::Document);
    } catch (const CInternetException& e) {
        LogLine(strUrl + ": " + e.GetErrorMessage());
        return {493, {}};
    }
    Document document{0, file->QueryStatusCode()};
    if (auto length = file->QueryContentLength(); length && *length <= nLimit)
        strText.reserve(static_cast<std::size_t>(*length));
    char buffer[16384];
    try {
        while (std::size_t n = file->Read(buffer, sizeof buffer)) {
            if (strText.size() + n > nLimit) {
                strText.clear();
                strText.shrink_to_fit();
                document.nResult = kTextTooLarge;
                break;
            }
            strText.append(buffer, n);
        }
    } catch (const CInternetException& e) {
        // What arrived before the failure is kept; the caller learns that it is not all.
        LogLine(strUrl + ": the body was cut short: " + e.GetErrorMessage());
        document.nResult = kTextCutShort;
    }
    return document;
}

}  // namespace

int ReadUrlText(const std::string& strUrl, std::string& strText, CInternetSession* pSession, std::string* pStatus)
{
    Document document = ReadDocument(strUrl, strText, kManifestLimit, pSession);
    if (pStatus)
        *pStatus = document.strStatus;
    return document.nResult;
}

std::optional<std::string> ReadSignatureText(const std::string& strFileUrl, CInternetSession* pSession)
{
    std::string text;
    Document document = ReadDocument(strFileUrl + ".minisig", text, kSignatureLimit, pSession);
    // A signature cut short is kept: it cannot pass for a whole one.
    if ((document.nResult != 0 && document.nResult != kTextCutShort) || std::atoi(document.strStatus.c_str()) >= 400)
        return std::nullopt;
    return text;
}
