// CDownloadMgr::Run: the worker's download of every queued file into the temporary directory.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "download/DownloadMgr.h"
#include "download/Globals.h"
#include "download/TempNames.h"
#include "platform/File.h"

namespace {

constexpr std::size_t kBlockSize = 8192;
// Blocks are read one at a time (one progress event each) but written in groups: a write call
// per block costs a third of the throughput.
constexpr std::size_t kBlocksPerWrite = 32;

// Texts a server's error page starts with.
constexpr std::string_view kErrorPageMarkers[] = {"<html>", "<!DOCTYPE HTML PUBLIC"};

// The server answered, but not with the file.
struct NotTheFile {};

bool IsErrorPage(const std::string& strStatus, const char* pBlock, std::size_t nSize)
{
    if (std::atoi(strStatus.c_str()) >= 400)
        return true;
    for (std::string_view marker : kErrorPageMarkers)
        if (nSize >= marker.size() && std::memcmp(pBlock, marker.data(), marker.size()) == 0)
            return true;
    return false;
}

}  // namespace

void CDownloadMgr::Raise(std::uint32_t dwParam1, std::uint32_t dwParam2, int nEvent, const char* lpszText)
{
    m_nLastEvent = nEvent;
    m_pSink->OnDownloadEvent(dwParam1, dwParam2, nEvent, lpszText);
}

int CDownloadMgr::Run()
{
    const std::size_t count = m_arrTasks.size();
    std::vector<char> buffer(kBlockSize * kBlocksPerWrite);
    CFile file;
    for (std::size_t i = 0; i < count; ++i) {
        tagDownloadTask& task = *m_arrTasks[i];
        std::string failure;
        try {
            if (!StoreTask(task, file, buffer)) {
                Raise(0, 0, DOWNLOAD_EVENT_CLOSE, nullptr);
                return 2;
            }
            task.bDownloaded = true;
            Raise(0, 0, DOWNLOAD_EVENT_RESET, task.szName.c_str());
            continue;
        } catch (const CInternetException& e) {
            if (e.IsCancel() && m_bCancel) {
                file.Abort();
                Raise(0, 0, DOWNLOAD_EVENT_CLOSE, nullptr);
                return 2;
            }
            failure = e.GetErrorMessage();
        } catch (const CFileException& e) {
            failure = e.GetErrorMessage();
        } catch (...) {
            failure = "下载 " + task.szName + " 文件失败";
        }
        file.Abort();
        Raise(0, 0, DOWNLOAD_EVENT_ERROR, failure.c_str());
        return 1;
    }
    Raise(0, 0, DOWNLOAD_EVENT_INSTALLING, nullptr);
    return 0;
}

bool CDownloadMgr::StoreTask(tagDownloadTask& task, CFile& file, std::vector<char>& buffer)
{
    const char* name = task.szName.c_str();
    Raise(0, 0, DOWNLOAD_EVENT_FILE_BEGIN, nullptr);
    if (!m_pSession)
        throw NotTheFile{};
    std::unique_ptr<CHttpFile> http = m_pSession->OpenURL(m_strBaseURL + task.szName);
    const std::optional<std::uint64_t> length = http->QueryContentLength();

    std::size_t used = http->Read(buffer.data(), kBlockSize);
    if (IsErrorPage(http->QueryStatusCode(), buffer.data(), used))
        throw NotTheFile{};
    Raise(0, static_cast<std::uint32_t>(length.value_or(0)), DOWNLOAD_EVENT_TOTAL, name);

    CFileException error(0, "");
    if (!file.Open(TempFilePath(m_strTempDir, task, g_bManifestMode == 1), CFile::modeCreate | CFile::modeReadWrite,
                   &error))
        throw error;
    std::uint64_t received = used;
    m_dwTotalDownloaded += static_cast<std::uint32_t>(used);
    Raise(static_cast<std::uint32_t>(received), m_dwTotalDownloaded, DOWNLOAD_EVENT_PROGRESS, name);

    // Without a Content-Length the body is read to its end.
    while ((!length || received < *length) && !m_bCancel) {
        if (used + kBlockSize > buffer.size()) {
            file.Write(buffer.data(), used);
            used = 0;
        }
        std::size_t k = http->Read(buffer.data() + used, kBlockSize);
        if (k == 0) {
            if (length)
                throw NotTheFile{};  // ended before its announced length
            break;
        }
        used += k;
        received += k;
        m_dwTotalDownloaded += static_cast<std::uint32_t>(k);
        Raise(static_cast<std::uint32_t>(received), m_dwTotalDownloaded, DOWNLOAD_EVENT_PROGRESS, name);
    }
    file.Write(buffer.data(), used);
    http->Close();
    file.Close();
    return !m_bCancel;
}
