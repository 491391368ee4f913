// The program players run: no test hook, whatever its environment says. The tests' build of the
// program has TestBuildHooks.cpp instead (see app/CMakeLists.txt).

#include "app/TestHooks.h"

TestHooks ThisBuildsTestHooks()
{
    return {};
}
