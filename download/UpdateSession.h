#pragma once
// The HTTP sessions of an update run: the package probe, the manifest, the signatures and the
// first download's connection go through the one the run opens here; each further download
// connection is a session made from the same settings (the run's GetSettings()), so that all of
// them trust, route and wait alike. The limits and the retry policies are the program's own
// unless the run brings others (the tests of the whole program shorten them); nothing here reads
// the environment.

#include <memory>

#include "download/RetryPolicy.h"
#include "platform/Internet.h"

// The run's limits: a stalled transfer fails, and a document (the manifest, a signature) must
// arrive whole within a deadline, however slowly it drips.
CInternetSession::Limits UpdateSessionLimits();
// The program's name and those limits; the system's authorities, and the environment's proxy.
CInternetSession::Settings UpdateSessionSettings();
// A session made from the settings. Throws CInternetException when none can be set up, or libcurl
// refuses a setting.
std::unique_ptr<CInternetSession> OpenUpdateSession(const CInternetSession::Settings& settings = UpdateSessionSettings());
// How the run's downloads are tried again after a passing failure.
RetryPolicy UpdateRetries();
// How the requests before the downloads (the manifest, signatures, the package's probe) are: as
// the downloads, but a server's Retry-After is heeded for a few seconds only, as nothing can
// cancel those pauses, and a server that refuses or resets the connection is asked once more
// only, soon: it is down, not busy, and the player waits to hear so.
RetryPolicy StartRetries(const RetryPolicy& downloads = UpdateRetries());
