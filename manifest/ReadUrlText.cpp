#include "manifest/ReadUrlText.h"

#include <memory>

#include "download/UpdateSession.h"

int ReadUrlText(const std::string& strUrl, std::string& strText)
{
    strText.clear();
    std::unique_ptr<CInternetSession> session;
    try {
        session = OpenUpdateSession("UrlTest");
    } catch (const CInternetException&) {
        return 499;
    }
    std::unique_ptr<CHttpFile> file;
    try {
        file = session->OpenURL(strUrl);
    } catch (const CInternetException&) {
        return 493;
    }
    char buffer[16384];
    try {
        while (std::size_t n = file->Read(buffer, sizeof buffer))
            strText.append(buffer, n);
    } catch (const CInternetException&) {
        // What arrived before the failure is kept.
    }
    return 0;
}
