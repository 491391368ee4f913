#pragma once
// A download manager for the engine's tests, with an HTTP session of the run's kind, as the
// update run gives it: the manager opens none of its own.

#include <memory>

#include "download/DownloadMgr.h"
#include "download/UpdateSession.h"

class TestDownloadMgr : public CDownloadMgr {
public:
    ~TestDownloadMgr() override { Join(); }  // the worker uses the session

    // As CDownloadMgr::Initialize, over this manager's session unless the setup brings one.
    bool Initialize(IDownloadSink* pSink, DownloadSetup setup)
    {
        if (!setup.pSession)
            setup.pSession = m_pSession.get();
        return CDownloadMgr::Initialize(pSink, setup);
    }

private:
    std::unique_ptr<CInternetSession> m_pSession = OpenUpdateSession();
};
