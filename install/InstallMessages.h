#pragma once
// Which sentence the player reads when a step of the installation fails (the sentences are those
// of sentences/). The cause in English, with the system's words, goes to the log where the
// failure happens.

#include <string>

#include "install/JournalReplay.h"

// The sentence for a failed step of the installation; `name` is how the player knows the file.
std::string InstallFailureSentence(const InstallFailure& failure, const std::string& name);
