#pragma once
// What the player reads when an installation stops: one sentence naming the file and the cause,
// in the program's language. The cause in English, with the system's words, goes to the log
// where the failure happens.

#include <string>

#include "install/JournalReplay.h"

// "<name> 无法安装（<reason>），已停止更新。"
std::string CannotInstall(const std::string& name, const std::string& reason);
// "更新包中的 <entry> 无法解压（<reason>），已停止更新。"
std::string CannotUnpack(const std::string& entry, const std::string& reason);
// The cause of a failed file operation (an errno), for the player.
std::string FailureReason(int error);
// The sentence for a failed step of the installation; `name` is how the player knows the file.
std::string InstallFailureSentence(const InstallFailure& failure, const std::string& name);
