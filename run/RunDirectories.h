#pragma once
// Whether the run's two directories can be used: the temporary directory where the downloads
// wait, and the installation they go to.

#include <optional>
#include <string>

#include "run/RunValues.h"
#include "sentences/Failure.h"

// Why the temporary directory cannot be used, or nothing: it must stay inside the installation and
// must not be a link to somewhere else. The cause is not logged here.
std::optional<Failure> TempDirProblem(const RunValues& values);
// Why the run cannot write what it must (a game on a read-only file system, or in a directory of
// another user's), naming the directory, with its cause, which is not logged here: the log may
// not be open yet; nothing when it can. Makes the temporary directory when it is missing.
std::optional<Failure> WriteProblem(const RunValues& values);
