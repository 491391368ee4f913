#include "app/SourceSelection.h"

#include <memory>

#include "download/DownloadMgr.h"
#include "download/Globals.h"
#include "download/UpdateSession.h"
#include "manifest/PackageName.h"
#include "manifest/ParseManifest.h"

namespace {

// Asks for the package with one request and reads only the headers. False when the server
// has no such package or cannot be asked.
bool ProbePackage(ManifestTarget& target, const std::string& strUrl)
{
    try {
        std::unique_ptr<CInternetSession> session = OpenUpdateSession();
        std::unique_ptr<CHttpFile> response = session->OpenURL(strUrl);
        if (response->QueryStatusCode() == "404")
            return false;
        // Any other answer means the package is there; the worker meets any error page.
        if (std::optional<std::uint64_t> length = response->QueryContentLength())
            target.dwTotalSize = static_cast<std::uint32_t>(*length);
        return true;
    } catch (const CInternetException&) {
        return false;
    }
}

}  // namespace

bool QueueUpdate(ManifestTarget& target, const std::string& strBaseURL)
{
    if (g_bManifestMode != 1) {
        const std::string package = PackageName(g_strManifestName);
        if (ProbePackage(target, strBaseURL + package)) {
            target.downloadMgr.AddTask(package.c_str());
            return true;
        }
        g_bManifestMode = 1;
    }
    return ParseManifest(target, strBaseURL + g_strManifestName);
}
