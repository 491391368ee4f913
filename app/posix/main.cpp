// KesuUpdate.exe: brings the lobby's installation directory up to date from the update server.
// With a display it shows its window; without one the same run goes on offscreen, with its
// message boxes and progress on standard error.

#include <cstdlib>
#include <string>

#include "app/AutoUpdateApp.h"
#include "app/TestHooks.h"
#include "window/x11/X11Screen.h"

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
    SetPlatformIdentity(ProductIdentity());
    const char* displayName = std::getenv("DISPLAY");
    return RunProgram(OpenX11Screen(displayName ? displayName : ""), JoinArguments(argc, argv), ThisBuildsTestHooks());
}
