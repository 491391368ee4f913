#include "download/DownloadMgr.h"

#include "download/Globals.h"
#include "download/TempNames.h"
#include "download/UpdateSession.h"
#include "platform/FileSystem.h"

namespace {

// The executable's name is fixed: the set-aside name must not depend on how the program was started.
constexpr const char* kExecutableName = "KesuUpdate.exe";

std::string SetAsideName(const std::string& executable)
{
    auto dot = executable.rfind('.');
    if (dot == std::string::npos)
        return executable + "_old";
    return executable.substr(0, dot) + "_old" + executable.substr(dot);
}

}  // namespace

void BuildSetAsideNames(const std::string& strInstallDir)
{
    g_strOldExeName = SetAsideName(kExecutableName);
    g_strOldExePath = strInstallDir + g_strOldExeName;
}

CDownloadMgr::CDownloadMgr() = default;

CDownloadMgr::~CDownloadMgr()
{
    m_hThread.reset();
    RemoveAllTasks();
    m_hStartEvent.reset();
    m_pSession.reset();
}

bool CDownloadMgr::Initialize(IDownloadSink* pSink, const std::string& strBaseURL, const std::string& strTempDir,
                              const std::string& strInstallDir)
{
    if (!pSink)
        return false;
    m_pSink = pSink;
    m_strBaseURL = strBaseURL;
    m_strTempDir = strTempDir;
    m_strInstallDir = strInstallDir;

    BuildSetAsideNames(m_strInstallDir);

    if (m_strBaseURL.empty() || m_strBaseURL.back() != '/')
        m_strBaseURL += '/';
    if (!PathIsDirectory(m_strTempDir))
        CreateDirectory(m_strTempDir);

    try {
        m_pSession = OpenUpdateSession();
        m_pSession->SetCancelFlag(&m_bCancel);
    } catch (const CInternetException&) {
        m_pSession.reset();  // every download then fails with its own message
    }
    m_hStartEvent = std::make_unique<CEvent>();
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
    auto separator = task->szName.find_last_of("\\/");
    if (separator == std::string::npos) {
        task->szFile = task->szName;
    } else {
        task->szDir = task->szName.substr(0, separator);
        task->szFile = task->szName.substr(separator + 1);
    }
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

    std::lock_guard lock(g_csTaskLock);
    m_arrTasks.push_back(std::move(task));
    return true;
}

void CDownloadMgr::RemoveAllTasks()
{
    std::lock_guard lock(g_csTaskLock);
    m_arrTasks.clear();
    m_tempNames.clear();
    m_arrTasks.shrink_to_fit();
}

void StartDownload(CDownloadMgr& downloadMgr)
{
    downloadMgr.m_counts = {};
    downloadMgr.m_hThread = std::make_unique<CThread>([&downloadMgr] { return DownloadThreadProc(&downloadMgr); });
    downloadMgr.m_hStartEvent->Set();
}

std::uint32_t DownloadThreadProc(CDownloadMgr* pMgr)
{
    pMgr->m_hStartEvent->Wait();
    int result = pMgr->Run();
    if (result != 0)
        return static_cast<std::uint32_t>(result);
    result = pMgr->Install();
    if (result == 0)
        pMgr->RemoveAllTasks();
    return static_cast<std::uint32_t>(result);
}
