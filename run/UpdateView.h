#pragma once
// What an update run shows, and what the player can ask of it: the run speaks to the screen
// through IUpdateView (the update window, and the console progress where there is no display),
// and the window speaks back through IUpdateCommands.
//
// A view's methods are called on the run's thread, and on the download's worker while the files
// download (the run's thread waits for it meanwhile): one at a time, and never on the window
// thread. A view changes its controls only through their messages, and waits for the window
// thread only through them.

#include <cstdint>
#include <string>

// How far the download has come, in bytes.
struct UpdateProgress {
    const char* lpszFile = "";  // the file's name as the run queued it
    std::uint64_t nFileDone = 0;
    std::uint64_t nFileSize = 0;  // as the server announced it; 0 when it did not
    std::uint64_t nTotalDone = 0;
    std::uint64_t nTotalSize = 0;
};

class IUpdateView {
public:
    // The splash picture, before anything is known.
    virtual void ShowSplash() {}
    // The download panel: the file's and the update's bars, the status texts, cancel.
    virtual void ShowPanel(std::uint64_t /*nTotalSize*/) {}
    // The update's size, learned only when the package's download answered with it (its probe
    // had none).
    virtual void ShowTotalSize(std::uint64_t /*nTotalSize*/) {}
    // A file's download begins; its size as announced (0 when none was).
    virtual void ShowFileStart(std::uint64_t /*nFileSize*/) {}
    virtual void ShowProgress(const UpdateProgress& /*progress*/) {}
    // A file arrived whole.
    virtual void ShowFileDone() {}
    // The files are being put in place: there is nothing left to cancel.
    virtual void ShowInstalling() {}
    // One sentence for the player, in a message box of its own.
    virtual void ShowMessage(const std::string& /*strText*/) {}
    // The run failed: why, then where the player can get the whole game instead.
    virtual void ShowFailure(const std::string& /*strCause*/, const std::string& /*strWhereToGetIt*/) {}
    // The run found nothing to download.
    virtual void ShowUpToDate() {}
    // The run is over; the view goes.
    virtual void Close() {}

protected:
    ~IUpdateView() = default;
};

class IUpdateCommands {
public:
    // The player cancels: a download is asked to stop (true), or there is nothing left to stop
    // and the window may go at once (false).
    virtual bool Cancel() = 0;
    // The window closes: a download still going is asked to stop.
    virtual void WindowClosed() = 0;

protected:
    ~IUpdateCommands() = default;
};
