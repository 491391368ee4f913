#include "download/UpdateSession.h"

#include <cstdlib>

namespace {

// The session's own limits. Test-only: the fault tests set KESU_TEST_STALL_SECONDS so that a
// server that never answers fails a run of the program in a second rather than in thirty.
CInternetSession::Limits RunLimits()
{
    CInternetSession::Limits limits;
    if (const char* seconds = std::getenv("KESU_TEST_STALL_SECONDS"))
        if (int value = std::atoi(seconds); value > 0)
            limits.stallTimeout = std::chrono::seconds(value);
    return limits;
}

}  // namespace

std::unique_ptr<CInternetSession> OpenUpdateSession(const std::string& strAgent)
{
    auto session = std::make_unique<CInternetSession>(strAgent);
    session->SetLimits(RunLimits());
    return session;
}
