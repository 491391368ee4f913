#pragma once
// Which sentence the player reads when a step of the installation fails (the sentences are those
// of sentences/), with the system's error put in the player's words. The cause in English, with
// the system's words, goes to the log where the failure happens.

#include <string>

// The journal, or the staging directory beside it, cannot be written.
std::string JournalNotWrittenSentence(int error);
// A file cannot be put in place; `name` is how the player knows the file.
std::string CannotInstallSentence(const std::string& name, int error);
