// KesuUpdate.exe: brings the lobby's installation directory up to date from the update server.
//
// This build runs an update without its window: start-up, the choice between the package and
// the manifest, the download and the installation, reported on standard error.

#include <string>

#include "app/ConsoleReport.h"
#include "app/SourceSelection.h"
#include "app/Startup.h"
#include "download/DownloadMgr.h"
#include "manifest/ParseManifest.h"
#include "platform/FileSystem.h"

namespace {

// The lobby passes one command line; the arguments joined by blanks give it back.
std::string JoinArguments(int argc, char** argv)
{
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            line += ' ';
        line += argv[i];
    }
    return line;
}

}  // namespace

int main(int argc, char** argv)
{
    StartupValues values = LoadStartupValues(JoinArguments(argc, argv), GetModuleFileName());
    CConsoleReport report;
    CDownloadMgr downloadMgr;
    InitializeDownloads(values, &report, downloadMgr);

    std::uint32_t dwTotalSize = 0;
    ManifestTarget target{values.strInstallDir, dwTotalSize, downloadMgr};
    if (!QueueUpdate(target, values.strBaseURL)) {
        report.OnDownloadEvent(0, 0, DOWNLOAD_EVENT_FINISHED, nullptr);
        return 0;
    }
    StartDownload(downloadMgr);
    downloadMgr.m_hThread->Join();
    return 0;
}
