#pragma once
// The HTTP session of an update run: the package probe, the manifest, the signatures and the
// downloads all go through the one the run opens here, so that they share its connections and
// wait alike.

#include <memory>

#include "download/RetryPolicy.h"
#include "platform/Internet.h"

// A session with the run's limits: a stalled transfer fails, and a document (the manifest, a
// signature) must arrive whole within a deadline, however slowly it drips. Throws
// CInternetException when none can be set up.
std::unique_ptr<CInternetSession> OpenUpdateSession();
// How the run's downloads are tried again after a passing failure.
RetryPolicy UpdateRetries();
// How the requests before the downloads (the manifest, signatures, the package's probe) are: as
// the downloads, but a server's Retry-After is heeded for a few seconds only, as nothing can
// cancel those pauses.
RetryPolicy StartRetries();
