#pragma once
// The HTTP sessions of an update run: the package probe, the manifest, the signatures and the
// downloads each open theirs here, so that they all wait alike.

#include <memory>
#include <optional>
#include <string>

#include "platform/Internet.h"

// A session with the run's limits. Throws CInternetException when none can be set up.
std::unique_ptr<CInternetSession> OpenUpdateSession(const std::string& strAgent = "KesuUpdate");
// The same for the small documents of a run (the manifest, a signature), which must also
// arrive whole within a deadline.
std::unique_ptr<CInternetSession> OpenDocumentSession(const std::string& strAgent = "KesuUpdate");
