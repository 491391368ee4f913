#pragma once
// The HTTP sessions of an update run: the package probe, the manifest and the downloads each
// open theirs here, so that they all wait alike.

#include <memory>
#include <string>

#include "platform/Internet.h"

// A session with the run's limits. Throws CInternetException when none can be set up.
std::unique_ptr<CInternetSession> OpenUpdateSession(const std::string& strAgent = "KesuUpdate");
