#include "download/DownloadMgr.h"

#include <filesystem>
#include <string_view>

#include "download/TempNames.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/Path.h"

CDownloadMgr::CDownloadMgr() = default;

CDownloadMgr::~CDownloadMgr()
{
    Join();
}

bool CDownloadMgr::Initialize(IDownloadSink* pSink, const DownloadSetup& setup)
{
    if (!pSink)
        return false;
    m_pSink = pSink;
    m_setup = setup;

    m_servers = {m_setup.strBaseURL};
    m_servers.insert(m_servers.end(), m_setup.mirrors.begin(), m_setup.mirrors.end());
    for (std::string& server : m_servers)
        if (server.empty() || server.back() != '/')
            server += '/';
    m_setup.strBaseURL = m_servers.front();
    m_nServer = 0;
    m_nServersLeft = m_servers.size() - 1;
    if (!PathIsDirectory(m_setup.strTempDir))
        CreateDirectory(m_setup.strTempDir);

    m_pSession = m_setup.pSession;
    if (m_pSession)
        m_pSession->SetCancelFlag(&m_bStop);
    return true;
}

bool CDownloadMgr::AddTask(const char* lpszName)
{
    return AddTask(lpszName, std::nullopt);
}

bool CDownloadMgr::AddTask(const char* lpszName, std::optional<tagExpectedFile> expected, DownloadCheck fnCheck,
                           std::optional<std::uint64_t> nLimit)
{
    if (!lpszName)
        return false;
    auto task = std::make_unique<tagDownloadTask>();
    task->szName = lpszName;
    task->expected = std::move(expected);
    task->fnCheck = std::move(fnCheck);
    task->nLimit = nLimit;
    Queue(std::move(task));
    return true;
}

void CDownloadMgr::AddListedFile(const std::string& strName, const std::string& strListedName, tagExpectedFile expected)
{
    auto task = std::make_unique<tagDownloadTask>();
    task->szName = strName;
    if (strListedName != strName)
        task->szUrlPath = strListedName;
    task->expected = std::move(expected);
    Queue(std::move(task));
}

void CDownloadMgr::Queue(std::unique_ptr<tagDownloadTask> task)
{
    const SplitPath split = SplitAtLastSeparator(task->szName);
    task->szDir = split.directory.substr(0, split.directory.empty() ? 0 : split.directory.size() - 1);
    task->szFile = split.name;
    task->nID = ++m_nNextTaskID;
    // a\b.txt and a_b.txt flatten alike: the later one gets a name of its own, or it would
    // overwrite the first and be installed under the first one's name.
    const std::string flat = FlatTempName(*task);
    if (!m_tempNames.insert(flat).second) {
        std::string own = flat.substr(0, flat.size() - 4) + "~" + std::to_string(task->nID) + ".dtm";
        while (!m_tempNames.insert(own).second)
            own.insert(own.size() - 4, "~");
        task->szTempName = own;
    }

    std::lock_guard lock(m_csTaskLock);
    m_arrTasks.push_back(std::move(task));
}

void CDownloadMgr::UseServerFirst(std::size_t nServer)
{
    if (nServer < m_servers.size())
        m_nServer = nServer;
}

void CDownloadMgr::RemoveAllTasks()
{
    std::lock_guard lock(m_csTaskLock);
    m_arrTasks.clear();
    m_tempNames.clear();
    m_arrTasks.shrink_to_fit();
}

bool CDownloadMgr::Start()
{
    if (m_bStarted.exchange(true))
        return false;
    m_nTotalDone = 0;
    m_hThread = std::make_unique<CThread>([this] { return static_cast<std::uint32_t>(Run()); });
    return true;
}

bool CDownloadMgr::Downloading() const
{
    return m_bStarted && m_phase == kDownloading;
}

bool CDownloadMgr::Cancel()
{
    int downloading = kDownloading;
    if (!m_phase.compare_exchange_strong(downloading, kCancelled))
        return false;
    m_bCancel = true;
    StopLanes();
    return true;
}

std::optional<RunEnd> CDownloadMgr::WaitForWorker(std::chrono::milliseconds timeout)
{
    if (!m_hThread || !m_hThread->WaitFor(timeout))
        return std::nullopt;
    const std::optional<std::uint32_t> code = m_hThread->GetExitCode();
    return code ? std::optional(static_cast<RunEnd>(*code)) : std::nullopt;
}

void CDownloadMgr::Join()
{
    if (m_hThread)
        m_hThread->Join();
}

RunEnd CDownloadMgr::WaitForEnd()
{
    Join();
    const std::optional<std::uint32_t> code = m_hThread ? m_hThread->GetExitCode() : std::nullopt;
    return code ? static_cast<RunEnd>(*code) : RunEnd::Failed;
}

std::string CDownloadMgr::DownloadPath(const tagDownloadTask& task) const
{
    return TempFilePath(m_setup.strTempDir, task, m_setup.bManifestMode);
}

bool CreateDirectoryTree(std::string strPath)
{
    return CreateDirectoryWithParents(strPath);
}

void CDownloadMgr::RemoveStaleDownloads() const
{
    if (!AreDistinctPaths(m_setup.strTempDir, m_setup.strInstallDir))
        return;  // the installation's own files are never looked at
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(PathFromUtf8(ToNativePath(m_setup.strTempDir)), error)) {
        const std::string name = Utf8OfPath(entry.path().filename());
        for (std::string_view suffix : {".dtm", ".dtm.resume", ".dtm.patch", ".dtm.patch.resume"}) {
            if (!name.ends_with(suffix))
                continue;
            // This run's own are left where whoever installed them left them.
            const std::string download = name.substr(0, name.size() - suffix.size()) + ".dtm";
            if (!m_tempNames.contains(download) && entry.is_regular_file(error)) {
                LogNote("removed " + name + ", a download of an earlier run that no file needs now");
                DeleteFile(Utf8OfPath(entry.path()));
            }
            break;
        }
    }
}
