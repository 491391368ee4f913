#include "app/ConsoleReport.h"

#include <cstdio>

#include "platform/MessageBox.h"

void CConsoleReport::OnDownloadEvent(std::uint32_t, std::uint32_t dwParam2, int nEvent, const char* lpszText)
{
    switch (nEvent) {
    case DOWNLOAD_EVENT_TOTAL:
        std::fprintf(stderr, "KesuUpdate: downloading %s (%u KB)\n", lpszText, dwParam2 / 1024);
        break;
    case DOWNLOAD_EVENT_INSTALLING:
        std::fprintf(stderr, "KesuUpdate: every file has arrived\n");
        break;
    case DOWNLOAD_EVENT_CLOSE:
        std::fprintf(stderr, "KesuUpdate: cancelled\n");
        break;
    case DOWNLOAD_EVENT_INSTALL_BEGIN:
        std::fprintf(stderr, "KesuUpdate: %s\n", lpszText);
        break;
    case DOWNLOAD_EVENT_FINISHED:
        std::fprintf(stderr, "KesuUpdate: up to date\n");
        break;
    case DOWNLOAD_EVENT_ERROR:
        m_bFailed = true;
        MessageBox(lpszText, "提示", MB_OK | MB_ICONINFORMATION);
        break;
    default:
        break;
    }
}
