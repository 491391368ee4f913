#pragma once
// The update window: a borderless dialog whose whole surface is a bitmap. It starts with the
// splash picture and no controls, and switches once to the download panel with two lines of
// text, two progress bars and the cancel button.
//
// It is the run's view: the run tells it each step from the run's own threads, never from the
// window's; a step changes the controls only through their messages, and the two that change the
// window's picture (the splash, the panel) run on the window thread. Cancel and closing the window
// go to the run's commands.

#include <cstdint>
#include <memory>
#include <string>

#include "run/UpdateView.h"
#include "window/Framework.h"
#include "ui/SkinButton.h"
#include "ui/SkinProgressCtrl.h"
#include "ui/SkinStatic.h"

class CAutoUpdateDlg : public CDialog, public IUpdateView {
public:
    CAutoUpdateDlg();
    ~CAutoUpdateDlg() override;

    // Creates the window from its template. With the run's commands it takes the updater's title
    // and passes cancel and close on; without, it only shows its look and cancel closes it.
    bool Create(IUpdateCommands* pCommands = nullptr);
    // Composes the background (the panel, and the splash over it while m_bSplash) off screen.
    void BuildBackground();

    // Sized to the background bitmap and shown with the splash; the controls stay hidden.
    void ShowSplash() override;
    // The download panel: the controls shown, the overall bar's range in whole KB, the bars'
    // frames recomputed.
    void ShowPanel(std::uint64_t nTotalSize) override;
    // The update's bar takes the size its package's download told, in whole KB.
    void ShowTotalSize(std::uint64_t nTotalSize) override;
    // The file's bar restarts with the file's size in whole KB.
    void ShowFileStart(std::uint64_t nFileSize) override;
    // The file's name and sizes in whole KB, and both bars.
    void ShowProgress(const UpdateProgress& progress) override;
    void ShowInstalling() override;
    void ShowMessage(const std::string& strText) override;
    void ShowFailure(const std::string& strCause, const std::string& strWhereToGetIt) override;
    // Closes the window through its queue.
    void Close() override;

    CBitmap m_hIcon;
    CSkinProgressCtrl m_progressFile;
    CSkinProgressCtrl m_progressTotal;
    CSkinStatic m_staticStatus;
    CSkinStatic m_staticDetail;
    CSkinButton m_btnCancel;
    bool m_bSplash = true;
    std::unique_ptr<CDC> m_pMemDC;
    CBitmap* m_hOldMemBitmap = nullptr;
    std::unique_ptr<CBitmap> m_pMemBitmap;
    CBitmap m_bmpBackground;
    CBitmap m_bmpSplash;

private:
    IUpdateCommands* m_pCommands = nullptr;

protected:
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void DoDataExchange(CDataExchange* pDX) override;
    bool OnInitDialog() override;
    void OnCancel() override;

private:
    void ShowSplashHere();
    void ShowPanelHere(std::uint64_t nTotalSize);
    void OnClose();

    void OnPaint();
    void OnSize();
    LRESULT OnTransparentBk(WPARAM wParam, LPARAM lParam);
    void OnLButtonDown(int x, int y);
    void ReleaseBackground();
};
