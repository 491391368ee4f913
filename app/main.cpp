// KesuUpdate.exe: brings the lobby's installation directory up to date from the update server.
//
// This build carries the start-up of a run: the command line, the settings and the values derived
// from them. The download engine and the window follow.

#include <cstdio>
#include <string>

#include "app/Startup.h"
#include "download/Globals.h"
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
    std::fprintf(stderr,
                 "KesuUpdate: installation directory %s\n"
                 "KesuUpdate: temporary directory %s\n"
                 "KesuUpdate: %s update from %s%s\n"
                 "KesuUpdate: lobby numbers %d %d\n"
                 "KesuUpdate: this build ends after start-up; downloading is not built yet\n",
                 values.strInstallDir.c_str(), values.strTempDir.c_str(),
                 g_bManifestMode ? "manifest" : "package", values.strBaseURL.c_str(), g_strManifestName.c_str(),
                 g_nLobbyParam1, g_nLobbyParam2);
    return 0;
}
