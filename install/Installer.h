#pragma once
// The installation of an update: puts the verified downloads in place, all or nothing. Every
// file is first staged on the installation's file system, ready for one rename (a manifest's
// files with their final permissions, a package unpacked whole into the staging directory); then
// the journal of the renames is written and carried out (install/JournaledInstall.h), so that a
// run killed halfway is finished by the next start.
//
// Threads: Install works on the caller's thread and tells the sink there; it takes as long as
// the disk does, so the caller is a worker, never the window's thread. One installation at a
// time.
//
// Errors: nothing is thrown. A step that fails, before the renames or during them, leaves every
// file as it was and the downloads for the next run (those copied to a staging directory on
// another file system go with it, and are fetched again); the sink hears one sentence naming the
// file, and the cause in English goes to the log.

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "install/InstallFiles.h"

// A download that arrived whole and passed its checks, waiting in the temporary directory.
struct VerifiedDownload {
    std::string strName;  // as the manifest names it: relative to the installation
    std::string strDir;   // strName before its last '\' or '/'; empty without one
    std::string strFile;  // strName after it; empty for a name that ends in a separator
    std::string strPath;  // where it waits
    std::optional<unsigned> nMode;  // the permission bits (within 0777) the manifest gives it
};

// What one installation puts where.
struct InstallOrder {
    std::string strTempDir;     // where the downloads wait, the journal is written and staging may lie
    std::string strInstallDir;  // the installation the files go into
    bool bPackage = false;      // the one download is a zip package, unpacked into the installation
    std::vector<VerifiedDownload> downloads;
};

// How an installation goes: it begins, then it finishes or fails, once each.
namespace install_event {

// The installation begins: the sentence that says so.
struct Begun {
    std::string_view text;
};
// Every file is in place.
struct Finished {};
// Every file is as it was: the sentence for the player, naming the file that could not be put in place.
struct Failed {
    std::string_view sentence;
};

}  // namespace install_event

using InstallEvent = std::variant<install_event::Begun, install_event::Finished, install_event::Failed>;

// Hears the installer's events, on the installer's thread; a text lives for the call only.
class IInstallSink {
public:
    virtual void OnInstallEvent(const InstallEvent& event) = 0;

protected:
    ~IInstallSink() = default;
};

class CInstaller {
public:
    // The sink and the file operations must outlive the installer.
    explicit CInstaller(IInstallSink& sink, IInstallFiles& files = SystemInstallFiles()) : m_sink(sink), m_files(files) {}

    // Moves each download over the installed file (setting the running executable aside for a new
    // copy of itself), or unpacks the package and moves its entries in; a package then leaves the
    // temporary directory. True when every file is in place; false after a failure, when every
    // file is as it was.
    bool Install(const InstallOrder& order);

private:
    // The sentence for the player when the installation failed, or nothing when it succeeded.
    std::optional<std::string> InstallFiles(const InstallOrder& order);
    std::optional<std::string> InstallPackage(const InstallOrder& order, const std::string& package);

    IInstallSink& m_sink;
    IInstallFiles& m_files;  // through which the journal's moves change the disk
};

// The name the running executable is set aside under, in its directory.
std::string SetAsideExeName();
