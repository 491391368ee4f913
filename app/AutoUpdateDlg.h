#pragma once
// The update window: a borderless dialog whose whole surface is a bitmap. It starts with the
// splash picture and no controls, and switches once to the download panel with two lines of
// text, two progress bars and the cancel button.
//
// Its initialisation runs the start of an update: settings, the choice of source, the queueing
// of the downloads and the start of the worker. From then on the worker's events drive it; they
// arrive on the worker thread and change the controls only through their messages.
//
// Errors: the app is where failures are told. Every way a run can fail ends in one message box
// (the engine's sentence, or "Error line:N" for the manifest step) and, for a failed download,
// the second box with the web page; the cause is on standard error. The lobby's relaunch and
// notification are not checked on purpose: the updater has nothing left to do if they fail.

#include <cstdint>
#include <memory>
#include <string>

#include "app/ConsoleProgress.h"
#include "download/DownloadMgr.h"
#include "trust/UpdateTrust.h"
#include "platform/Framework.h"
#include "ui/SkinButton.h"
#include "ui/SkinProgressCtrl.h"
#include "ui/SkinStatic.h"

class CAutoUpdateDlg : public CDialog, public IDownloadSink {
public:
    // Without a display the progress also goes to standard error.
    explicit CAutoUpdateDlg(bool bConsoleProgress = false);
    // Waits for the worker: nothing the worker uses goes away under it.
    ~CAutoUpdateDlg() override;

    void OnDownloadEvent(std::uint32_t dwParam1, std::uint32_t dwParam2, int nEvent, const char* lpszText) override;

    // Creates the window from its template; its initialisation starts the update unless asked
    // not to (the window then only shows its look).
    bool Create(bool bStartUpdate = true);
    // Composes the background (the panel, and the splash over it while m_bSplash) off screen.
    void BuildBackground();
    // Sized to the background bitmap and shown with the splash; the controls stay hidden.
    void ShowSplash();
    // The download panel: the controls shown, the overall bar's range in whole KB, the bars'
    // frames recomputed.
    void ShowDownloadPanel(std::uint64_t nTotalSize);

    CBitmap m_hIcon;
    CSkinProgressCtrl m_progressFile;
    CSkinProgressCtrl m_progressTotal;
    CSkinStatic m_staticStatus;
    CSkinStatic m_staticDetail;
    CSkinButton m_btnCancel;
    std::unique_ptr<CUpdateTrust> m_pTrust;  // outlives the manager: the worker checks the package with it
    CDownloadMgr m_downloadMgr;
    std::string m_strInstallDir;
    std::uint32_t m_dwFileSize = 0;
    std::uint64_t m_nTotalSize = 0;
    bool m_bSplash = true;
    std::unique_ptr<CDC> m_pMemDC;
    CBitmap* m_hOldMemBitmap = nullptr;
    std::unique_ptr<CBitmap> m_pMemBitmap;
    CBitmap m_bmpBackground;
    CBitmap m_bmpSplash;

private:
    std::unique_ptr<CConsoleProgress> m_pConsoleProgress;
    bool m_bStartUpdate = true;

protected:
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void DoDataExchange(CDataExchange* pDX) override;
    bool OnInitDialog() override;
    void OnCancel() override;

private:
    void StartUpdate(const std::string& strBaseURL);
    void OnClose();
    void ShowFailureMessages(const char* lpszText);
    void HandBackToLobby();
    bool Downloading() const;

    void OnPaint();
    void OnSize();
    LRESULT OnTransparentBk(WPARAM wParam, LPARAM lParam);
    void OnLButtonDown(int x, int y);
    void ReleaseBackground();
};
