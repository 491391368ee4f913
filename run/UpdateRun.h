#pragma once
// One update run, from its first step to the hand-back to the lobby, and the one place that knows
// where it stands (run/RunPhase.h). Built from its values (run/RunValues.h), it finishes an
// installation a killed run left, chooses the source and checks the installed files, has the
// download manager fetch what differs, then hands the verified downloads to the installer; it
// turns the events of both into what its views show, and decides how the run ends: handed back
// to the lobby after a finished run, and also after one that found nothing to do, could not use
// its source or found its temporary directory or its disk unfit, as the lobby expects; closed
// without a hand-back after a cancel, a window closed before the installation began, or a
// failure (a download, the installation, an installation a killed run left, a game the player
// may not write).
//
// Threads: the run's steps are taken on a thread of its own (Start); while the files download,
// the download manager's worker reports on its own, and the run's thread waits for it to end.
// The views are told from those two, one at a time, and never from the window thread, which only
// passes Cancel and WindowClosed on.
//
// Errors: the app is where failures are told. Every way a run can fail ends in one message
// (the engine's sentence, or "Error line:N" for the manifest step) and, for a failed download,
// the second one with the web page; the cause is on standard error.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "download/DownloadMgr.h"
#include "install/Installer.h"
#include "run/RunPhase.h"
#include "run/RunValues.h"
#include "run/UpdateView.h"

class CUpdateTrust;

class UpdateRun : public IDownloadSink, public IInstallSink, public IUpdateCommands {
public:
    // Gives control back to whoever started the updater (the lobby); none: nobody is told.
    using HandBack = std::function<void()>;

    UpdateRun(RunValues values, HandBack handBack);
    // Asks the run to stop as a close does, and waits for its thread, which tells the views until
    // the run ends.
    ~UpdateRun();
    UpdateRun(const UpdateRun&) = delete;
    UpdateRun& operator=(const UpdateRun&) = delete;

    // Claims the installation for this process, with a display or without. An updater that still
    // holds it (one ending after it handed the lobby back) is waited for, up to 30 s; false
    // when it holds it still, which is said on standard error.
    bool ClaimInstallation();
    // The view is told every step from now on, after those added before it; it must outlive the run.
    void AddView(IUpdateView& view);
    // Starts the run on a thread of its own and returns: there it shows the splash, finishes an
    // installation a killed run left, chooses the source, downloads and installs; or ends the run
    // early when the temporary directory, the unfinished installation or the source cannot be
    // used, nothing is to be fetched, or the window was closed meanwhile.
    void Start();

    bool Cancel() override;
    void WindowClosed() override;
    void OnDownloadEvent(const DownloadEvent& event) override;
    void OnInstallEvent(const InstallEvent& event) override;

    const RunValues& Values() const { return m_values; }
    const CDownloadMgr& Downloads() const { return m_downloadMgr; }
    RunPhase Phase() const { return m_phases.Current(); }

private:
    // The run's steps, in order, on its own thread.
    void Run();
    // The steps before the downloads; false when the run has ended in one of them.
    bool Prepare();
    // The downloads, then the installation of what they stored.
    void DownloadAndInstall();
    // The run has ended so, for the reason given: its time in each phase, then its end line, go to
    // the log.
    void Ended(RunPhase end, const std::string& strReason);
    // A close or a cancel came: the run ends as EndStopped ends it (true), or goes on (false).
    bool EndedByStop();
    // Ends the run whose window was closed, or that was cancelled, before its downloads: as a
    // cancel of the downloads ends it.
    void EndStopped();
    // A close or a cancel came before the downloads began: every way the run's start ends then
    // ends as a cancel does, without a box or a hand-back.
    bool StoppedBeforeDownloads() const;
    // What each kind of the engine's events shows.
    void OnDownload(const download_event::FileBegun&);
    void OnDownload(const download_event::FileSized& sized);
    void OnDownload(const download_event::BytesArrived& bytes);
    void OnDownload(const download_event::FileStored& stored);
    void OnDownload(const download_event::AllStored&);
    void OnDownload(const download_event::Cancelled&);
    void OnDownload(const download_event::Failed& failed);
    void OnInstall(const install_event::Begun&);
    void OnInstall(const install_event::Finished&);
    void OnInstall(const install_event::Failed& failed);
    // The downloads, all verified, go to the installer.
    void Install();
    // Progress is shown at most once a frame, and always when a file is complete; a block's event
    // in between only keeps it.
    void Progress(const UpdateProgress& progress);
    void ShowPendingProgress();
    // Hands back to the lobby, then closes; the reason goes to the log.
    void Finish(const std::string& strReason);
    // Tells the player why the run cannot go on, then finishes with that reason.
    void Refuse(const std::string& strProblem);
    void Fail(const std::string& strCause);
    template <class Step>
    void Tell(Step step)
    {
        for (IUpdateView* view : m_views)
            step(*view);
    }

    RunValues m_values;
    HandBack m_handBack;
    std::vector<IUpdateView*> m_views;
    std::uint64_t m_nTotalSize = 0;
    std::chrono::milliseconds m_claimWait{0};  // how long the claim waited for another updater
    std::optional<UpdateProgress> m_pendingProgress;  // not yet shown; touched only in events, one at a time
    std::chrono::steady_clock::time_point m_lastFrame;
    std::unique_ptr<CInternetSession> m_pSession;
    std::unique_ptr<CUpdateTrust> m_pTrust;
    IInstallFiles& m_installFiles;  // the values' own, else the system's
    CInstaller m_installer;
    RunPhases m_phases;
    std::atomic<bool> m_bStopAsked{false};  // a cancel or a close came (any thread)
    std::string m_strDownloadFailure;  // the failed download's sentence, from the worker's last event
    CDownloadMgr m_downloadMgr;  // its worker ends before the session and the trust go
    std::thread m_thread;        // the run's steps
};
