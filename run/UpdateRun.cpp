#include "run/UpdateRun.h"

#include "check/CheckCache.h"
#include "download/UpdateSession.h"
#include "install/JournaledInstall.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"
#include "platform/Path.h"
#include "policy/Policy.h"
#include "run/DiskSpace.h"
#include "run/RunDirectories.h"
#include "run/SourceSelection.h"
#include "sentences/Sentences.h"
#include "trust/UpdateTrust.h"

namespace {

// How often progress reaches the views: a screen's refresh rate. A download's blocks arrive far
// more often, and every shown step costs the window thread a wake-up and a repaint.
constexpr std::chrono::milliseconds kFrameInterval{16};

// The check cache and the log live in the temporary directory. A run whose temporary directory
// is the installation itself leaves nothing of its own there, so it keeps neither.
bool HasOwnTemporaryDirectory(const RunValues& values)
{
    return AreDistinctPaths(values.strTempDir, values.strInstallDir);
}

std::string MirrorsText(const RunValues& values)
{
    std::string text;
    for (const std::string& mirror : values.mirrorBaseURLs)
        text += (text.empty() ? ", mirrors " : " ") + mirror;
    return text;
}

// The run's first line: what it is and what it was asked to do. Of the trusted keys (public ones,
// no secret) only whether there are any is written.
std::string StartLine(const RunValues& values, const CUpdateTrust& trust)
{
    return std::string("start: KesuUpdate (build ") + KESU_BUILD + "), command line \"" + values.strCommandLine +
           "\", base URL " + values.strBaseURL + MirrorsText(values) + ", TempDir \"" + values.strTempDirSetting +
           "\", Connections=" + std::to_string(values.nConnections) + ", CheckCache=" + (values.bCheckCache ? "1" : "0") +
           ", DigestQuery=" + (values.bDigestQuery ? "1" : "0") + ", " +
           (trust.Enabled() ? "signed updates only" : "no signature needed");
}

}  // namespace

UpdateRun::UpdateRun(RunValues values, HandBack handBack)
    : m_values(std::move(values)),
      m_handBack(std::move(handBack)),
      m_installFiles(m_values.installFiles ? *m_values.installFiles : SystemInstallFiles()),
      m_installer(*this, m_installFiles)
{
}

UpdateRun::~UpdateRun()
{
    WindowClosed();
    if (m_thread.joinable())
        m_thread.join();
    m_downloadMgr.Join();
    CloseLogFile();
}

bool UpdateRun::ClaimInstallation()
{
    if (LockDirectoryForProcess(m_values.strInstallDir))
        return true;
    const std::string where = ToNativePath(m_values.strInstallDir);
    LogLine("another updater holds the installation " + where + "; waiting up to " +
            std::to_string(kClaimWait.count() / 1000) + " s for it to leave");
    const auto begun = std::chrono::steady_clock::now();
    const bool claimed = LockDirectoryForProcess(m_values.strInstallDir, kClaimWait);
    m_claimWait = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begun);
    if (!claimed)
        LogLine("the other updater still holds the installation " + where + "; this one leaves it to that one");
    return claimed;
}

void UpdateRun::AddView(IUpdateView& view)
{
    m_views.push_back(&view);
}

void UpdateRun::Start()
{
    // The window thread goes back to its messages at once: it paints and answers while the run
    // works, and a close reaches the run through WindowClosed.
    m_thread = std::thread([this] { Run(); });
}

void UpdateRun::Run()
{
    m_phases.Restart();
    if (Prepare())
        DownloadAndInstall();
}

bool UpdateRun::Prepare()
{
    if (const std::optional<Failure> problem = TempDirProblem(m_values)) {
        LogLine(problem->strCause);
        Tell([](IUpdateView& view) { view.ShowSplash(); });
        Refuse(problem->strSentence);
        return false;
    }
    // Checked before the log opens in the temporary directory, which the check makes; said after,
    // and held against the run only once it proves to have something to write.
    const std::optional<Failure> unwritable = WriteProblem(m_values);
    try {
        m_pSession = OpenUpdateSession(m_values.session);
    } catch (const CInternetException& e) {
        LogLine(std::string("no internet session: ") + e.what());
        m_pSession.reset();  // every request then fails with its own message
    }
    const RetryPolicy& retries = m_values.retries;
    // The result is not looked at: a failure shows later, as failing downloads.
    m_downloadMgr.Initialize(this, {m_values.strBaseURL, m_values.strTempDir, m_values.strInstallDir,
                                    m_values.bManifestMode, m_pSession.get(), m_values.nConnections,
                                    m_values.bDigestQuery, retries, m_values.mirrorBaseURLs});
    m_pTrust = std::make_unique<CUpdateTrust>(TrustedKeyTexts(m_values.strPublicKeySetting), m_values.strInstallDir + kTrustStateFile);
    const bool ownTemporaryDirectory = HasOwnTemporaryDirectory(m_values);
    if (ownTemporaryDirectory)
        OpenLogFile(m_values.strTempDir + "\\" + kLogName, kLogLimit);
    LogNote(StartLine(m_values, *m_pTrust));
    // The lobby may start the next update the moment the last one handed it back.
    if (m_claimWait > std::chrono::milliseconds(0))
        LogNote("waited " + std::to_string(m_claimWait.count()) + " ms for the updater before this one to leave the installation");

    Tell([](IUpdateView& view) { view.ShowSplash(); });
    if (unwritable)
        LogNote(unwritable->strCause + "; the run goes on to learn whether it has anything to write there");
    if (EndedByStop())
        return false;
    // An installation a killed run left is finished before anything is checked: the check then
    // finds its files up to date, and nothing is downloaded again. Being an installation, it is
    // not cut short by a close.
    if (std::optional<std::string> failure =
            FinishInterruptedInstallation(m_values.strTempDir, m_values.strInstallDir, m_installFiles)) {
        Fail(*failure);
        return false;
    }
    // A temporary directory that cannot be written cannot keep the record either.
    const std::string checkCache = m_values.bCheckCache && ownTemporaryDirectory && !unwritable
                                       ? m_values.strTempDir + "\\" + kCheckCacheName
                                       : std::string();
    const RetryPolicy startRetries = StartRetries(retries);
    const UpdateSource source{m_values.strInstallDir, m_values.strBaseURL, m_values.mirrorBaseURLs, m_values.strManifestName,
                              m_values.bManifestMode, m_pTrust.get(), m_pSession.get(), checkCache, &startRetries,
                              &m_bStopAsked, &m_phases};
    m_phases.Enter(RunPhase::kChoosingSource);
    const SourceChoice choice = QueueUpdate(source, m_downloadMgr);
    // Whatever the choice came to, a window closed or a cancel meanwhile ends the run as a cancel
    // of the downloads would.
    if (EndedByStop())
        return false;
    // A game the player may not write is refused before its first download; one that is up to
    // date is handed back as any other.
    if (choice.bQueued && unwritable) {
        LogLine(unwritable->strCause);
        Fail(unwritable->strSentence);
        return false;
    }
    if (!choice.strMessage.empty() && !StoppedBeforeDownloads())
        Tell([&](IUpdateView& view) { view.ShowMessage(choice.strMessage); });
    if (!choice.bQueued) {
        if (choice.bUpToDate)
            Tell([](IUpdateView& view) { view.ShowUpToDate(); });
        Finish(choice.bUpToDate ? "up to date" : "the update could not be used: " + choice.strMessage);
        return false;
    }
    m_nTotalSize = choice.nTotalSize;
    if (const std::optional<std::string> problem =
            DiskSpaceProblem(m_values.strTempDir, m_values.strInstallDir, choice.nStoredSize,
                             m_downloadMgr.GetSetup().bManifestMode, choice.nUnpackedSize.value_or(0))) {
        Refuse(*problem);
        return false;
    }
    // From here a close is a cancel of the downloads: it ends in their Cancelled event.
    m_phases.Enter(RunPhase::kDownloading);
    if (EndedByStop())
        return false;
    return true;
}

void UpdateRun::DownloadAndInstall()
{
    LogNote(std::to_string(m_downloadMgr.GetTasks().size()) + " file(s) to download, " + std::to_string(m_nTotalSize) +
            " bytes");
    Tell([&](IUpdateView& view) { view.ShowPanel(m_nTotalSize); });
    m_downloadMgr.Start();
    switch (m_downloadMgr.WaitForEnd()) {
    case RunEnd::Done:
        Install();
        return;
    case RunEnd::Failed:
        Fail(m_strDownloadFailure);
        return;
    case RunEnd::Cancelled:
        Ended(RunPhase::kCancelled, "cancelled");
        Tell([](IUpdateView& view) { view.Close(); });
        return;
    }
}

void UpdateRun::OnDownloadEvent(const DownloadEvent& event)
{
    std::visit([this](const auto& e) { OnDownload(e); }, event);
}

void UpdateRun::OnDownload(const download_event::FileSized& sized)
{
    // A package whose probe told no length (a HEAD without one, a compressed answer) is as
    // long as its download's own answer says.
    if (m_nTotalSize == 0 && !m_downloadMgr.GetSetup().bManifestMode && sized.nFileSize > 0) {
        m_nTotalSize = sized.nFileSize;
        LogNote("the package's download answered with its length, " + std::to_string(m_nTotalSize) + " bytes");
        Tell([&](IUpdateView& view) { view.ShowTotalSize(m_nTotalSize); });
    }
    Tell([&](IUpdateView& view) { view.ShowFileStart(sized.nFileSize); });
}

void UpdateRun::OnDownload(const download_event::BytesArrived& bytes)
{
    Progress({bytes.name.c_str(), bytes.nFileDone, bytes.nFileSize, bytes.nTotalDone, m_nTotalSize});
}

void UpdateRun::OnDownload(const download_event::FileStored& stored)
{
    // Every file's last count is shown: one of known size showed it as it completed; one whose
    // size was not announced shows it now, whichever file's bytes came last.
    if (stored.nFileSize == 0)
        m_pendingProgress = UpdateProgress{stored.name.c_str(), stored.nFileDone, 0, stored.nTotalDone, m_nTotalSize};
    ShowPendingProgress();
    Tell([](IUpdateView& view) { view.ShowFileDone(); });
}

void UpdateRun::OnDownload(const download_event::AllStored&)
{
    // The installation follows on the run's thread, once the worker has ended.
}

void UpdateRun::OnDownload(const download_event::Cancelled&)
{
    // The run ends on its thread, once the worker has ended.
}

void UpdateRun::OnDownload(const download_event::Failed& failed)
{
    m_strDownloadFailure = failed.sentence;  // told on the run's thread, once the worker has ended
}

void UpdateRun::OnDownload(const download_event::FileBegun&)
{
    // The views show a file from its answer on.
}

void UpdateRun::Install()
{
    // Nothing of the download is left to cancel, and the installation is not cut short.
    m_phases.Enter(RunPhase::kInstalling);
    Tell([](IUpdateView& view) { view.ShowInstalling(); });
    const CDownloadMgr& downloads = m_downloadMgr;
    InstallOrder order{m_values.strTempDir, m_values.strInstallDir, !downloads.GetSetup().bManifestMode, {}};
    for (const auto& task : downloads.GetTasks()) {
        const std::optional<unsigned> mode = task->expected ? task->expected->nMode : std::nullopt;
        order.downloads.push_back({task->szName, task->szDir, task->szFile, downloads.DownloadPath(*task), mode});
    }
    // The installer's events end the run (OnInstall); what is left in the temporary directory is
    // tidied after the hand-back.
    if (m_installer.Install(order) && downloads.GetSetup().bManifestMode)
        downloads.RemoveStaleDownloads();
}

void UpdateRun::OnInstallEvent(const InstallEvent& event)
{
    std::visit([this](const auto& e) { OnInstall(e); }, event);
}

void UpdateRun::OnInstall(const install_event::Begun&)
{
    // The views show the installation from the run's installing phase on.
}

void UpdateRun::OnInstall(const install_event::Finished&)
{
    Finish("the update is installed");
}

void UpdateRun::OnInstall(const install_event::Failed& failed)
{
    Fail(std::string(failed.sentence));
}

void UpdateRun::Progress(const UpdateProgress& progress)
{
    m_pendingProgress = progress;
    const bool fileComplete = progress.nFileSize > 0 && progress.nFileDone >= progress.nFileSize;
    if (fileComplete || std::chrono::steady_clock::now() - m_lastFrame >= kFrameInterval)
        ShowPendingProgress();
}

void UpdateRun::ShowPendingProgress()
{
    if (!m_pendingProgress)
        return;
    Tell([&](IUpdateView& view) { view.ShowProgress(*m_pendingProgress); });
    m_pendingProgress.reset();
    m_lastFrame = std::chrono::steady_clock::now();
}

bool UpdateRun::StoppedBeforeDownloads() const
{
    return m_bStopAsked && !m_phases.Reached(RunPhase::kDownloading);
}

void UpdateRun::Finish(const std::string& strReason)
{
    if (StoppedBeforeDownloads()) {  // a close while a box was up, say
        EndStopped();
        return;
    }
    Ended(RunPhase::kDone, strReason);
    if (m_handBack)
        m_handBack();
    Tell([](IUpdateView& view) { view.Close(); });
}

void UpdateRun::Refuse(const std::string& strProblem)
{
    if (!StoppedBeforeDownloads())
        Tell([&](IUpdateView& view) { view.ShowMessage(strProblem); });
    Finish(strProblem);
}

void UpdateRun::Ended(RunPhase end, const std::string& strReason)
{
    m_phases.Enter(end);
    LogNote("time by phase: " + m_phases.Durations());
    LogNote("end: " + strReason);
}

bool UpdateRun::EndedByStop()
{
    if (!m_bStopAsked)
        return false;
    EndStopped();
    return true;
}

void UpdateRun::EndStopped()
{
    // As after a cancel: no box, and the lobby is neither told nor started.
    Ended(RunPhase::kCancelled, "cancelled before the downloads began");
    Tell([](IUpdateView& view) { view.Close(); });
}

void UpdateRun::Fail(const std::string& strCause)
{
    if (StoppedBeforeDownloads()) {
        LogNote("failed: " + strCause);
        EndStopped();
        return;
    }
    Ended(RunPhase::kFailed, "failed: " + strCause);
    const std::string& whereToGetIt = m_values.strWhereToGetTheGame;
    Tell([&](IUpdateView& view) { view.ShowFailure(strCause, whereToGetIt); });
    Tell([](IUpdateView& view) { view.Close(); });
}

bool UpdateRun::Cancel()
{
    // Before the downloads (Escape during the splash) the run's own steps stop as for a close.
    m_bStopAsked = true;
    return m_downloadMgr.Cancel();
}

void UpdateRun::WindowClosed()
{
    // Before the downloads, the run's requests end (the session's cancel flag is the download
    // manager's) and so do its pauses, its check and its choice of server; while files are
    // downloading, the worker stops. The run is waited for before it ends. Once the installation
    // has begun it goes on to its end.
    m_bStopAsked = true;
    m_downloadMgr.Cancel();
}
