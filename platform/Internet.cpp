#include "platform/Internet.h"

#include "platform/Url.h"

#include <algorithm>
#include <cstring>
#include <curl/curl.h>
#include <mutex>
#include <string_view>
#include <strings.h>
#include <vector>

namespace {

// What a paused transfer may hold before it stops taking data: enough for a few socket reads.
constexpr std::size_t kPendingLimit = 256 * 1024;
// How often a waiting request looks at the cancel flag.
constexpr int kPollMilliseconds = 100;

void InitCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool IsRedirect(long code)
{
    return code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && ::strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

// A header value that names no encoding at all.
bool IsIdentity(std::string_view value)
{
    const auto first = value.find_first_not_of(" \t\r\n");
    const auto last = value.find_last_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return true;
    value = value.substr(first, last - first + 1);
    return value.size() == 8 && ::strncasecmp(value.data(), "identity", 8) == 0;
}

}  // namespace

CInternetException::CInternetException(int nCurlCode, const std::string& strText)
    : std::runtime_error(strText), m_nCurlCode(nCurlCode)
{
}

bool CInternetException::IsCancel() const
{
    return m_nCurlCode == CURLE_ABORTED_BY_CALLBACK;
}

// One easy handle in one multi handle: the multi handle keeps the connection cache, and driving
// it ourselves lets a read wait for exactly as much data as the caller asked for.
struct CInternetSession::Transfer {
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    const std::atomic<bool>* cancel = nullptr;
    Limits limits;
    char errorText[CURL_ERROR_SIZE] = {};

    // State of the request in progress.
    unsigned serial = 0;      // tells a response whether it is still the one in progress
    bool active = false;      // the easy handle is in the multi handle
    bool headersDone = false; // the final response's headers have arrived
    bool done = false;        // the transfer has ended, with `result`
    bool paused = false;      // the write callback refused data until the next read
    bool sawLocation = false; // the current header block carries a Location
    bool encoded = false;     // the current header block carries a Content-Encoding
    CURLcode result = CURLE_OK;
    std::vector<char> pending; // body bytes received and not yet read
    std::size_t pendingPos = 0;

    ~Transfer()
    {
        End();
        if (easy)
            curl_easy_cleanup(easy);
        if (multi)
            curl_multi_cleanup(multi);
    }

    [[noreturn]] void Fail(int code, const char* generic)
    {
        std::string text = generic;
        if (errorText[0] && std::string_view(errorText) != generic)
            text += std::string(": ") + errorText;
        End();
        throw CInternetException(code, text);
    }

    void Check(CURLcode code)
    {
        if (code != CURLE_OK)
            Fail(code, curl_easy_strerror(code));
    }

    void Check(CURLMcode code)
    {
        if (code != CURLM_OK)
            Fail(code, curl_multi_strerror(code));
    }

    void Begin(const std::string& url, bool headersOnly)
    {
        End();
        ++serial;
        errorText[0] = '\0';
        Check(curl_easy_setopt(easy, CURLOPT_URL, MakeUrlValid(url).c_str()));
        if (headersOnly)
            Check(curl_easy_setopt(easy, CURLOPT_NOBODY, 1L));
        else
            Check(curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L));
        Check(curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, static_cast<long>(limits.connectTimeout.count())));
        Check(curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, std::max(1L, limits.minimumRate)));
        Check(curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(limits.stallTimeout.count())));
        Check(curl_easy_setopt(easy, CURLOPT_TIMEOUT, static_cast<long>(limits.deadline.count())));
        Check(curl_multi_add_handle(multi, easy));
        active = true;
    }

    // Takes the easy handle out of the multi handle; an unfinished transfer loses its connection.
    void End()
    {
        if (active)
            curl_multi_remove_handle(multi, easy);
        active = headersDone = done = paused = sawLocation = encoded = false;
        result = CURLE_OK;
        pending.clear();
        pendingPos = 0;
    }

    bool Cancelled() const { return cancel && cancel->load(std::memory_order_relaxed); }

    // Waits for the network (at most a poll interval), then lets libcurl work.
    void Pump()
    {
        if (Cancelled())
            Fail(CURLE_ABORTED_BY_CALLBACK, curl_easy_strerror(CURLE_ABORTED_BY_CALLBACK));
        if (paused) {
            paused = false;
            Check(curl_easy_pause(easy, CURLPAUSE_CONT));
        }
        Check(curl_multi_poll(multi, nullptr, 0, kPollMilliseconds, nullptr));
        int running = 0;
        Check(curl_multi_perform(multi, &running));
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
                done = true;
                result = message->data.result;
            }
        }
    }

    std::size_t Available() const { return pending.size() - pendingPos; }

    std::size_t Take(char* out, std::size_t count)
    {
        std::size_t n = std::min(count, Available());
        if (n == 0)
            return 0;
        std::memcpy(out, pending.data() + pendingPos, n);
        pendingPos += n;
        if (pendingPos == pending.size()) {
            pending.clear();
            pendingPos = 0;
        }
        return n;
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* user)
    {
        auto* self = static_cast<Transfer*>(user);
        std::size_t total = size * count;
        if (self->Available() >= kPendingLimit) {
            self->paused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        if (self->pendingPos > 0) {
            self->pending.erase(self->pending.begin(), self->pending.begin() + static_cast<long>(self->pendingPos));
            self->pendingPos = 0;
        }
        self->pending.insert(self->pending.end(), data, data + total);
        self->headersDone = true;
        return total;
    }

    // Marks the end of the final response's headers; the blocks of redirects and of interim
    // (1xx) responses are passed over.
    static size_t OnHeader(char* data, size_t size, size_t count, void* user)
    {
        auto* self = static_cast<Transfer*>(user);
        std::string_view line(data, size * count);
        if (line.starts_with("HTTP/")) {
            self->sawLocation = self->encoded = false;
        } else if (StartsWithIgnoringCase(line, "location:")) {
            self->sawLocation = true;
        } else if (StartsWithIgnoringCase(line, "content-encoding:")) {
            self->encoded = !IsIdentity(line.substr(std::strlen("content-encoding:")));
        } else if (line == "\r\n" || line == "\n") {
            long code = 0;
            curl_easy_getinfo(self->easy, CURLINFO_RESPONSE_CODE, &code);
            if (code >= 200 && !(IsRedirect(code) && self->sawLocation))
                self->headersDone = true;
        }
        return size * count;
    }
};

CInternetSession::CInternetSession(const std::string& strAgent) : m_pTransfer(std::make_unique<Transfer>())
{
    InitCurlOnce();
    Transfer& t = *m_pTransfer;
    t.multi = curl_multi_init();
    t.easy = curl_easy_init();
    if (!t.multi || !t.easy)
        throw CInternetException(CURLE_FAILED_INIT, curl_easy_strerror(CURLE_FAILED_INIT));
    t.Check(curl_easy_setopt(t.easy, CURLOPT_USERAGENT, strAgent.c_str()));
    t.Check(curl_easy_setopt(t.easy, CURLOPT_ERRORBUFFER, t.errorText));
    t.Check(curl_easy_setopt(t.easy, CURLOPT_NOSIGNAL, 1L));
    t.Check(curl_easy_setopt(t.easy, CURLOPT_BUFFERSIZE, 128L * 1024));
    t.Check(curl_easy_setopt(t.easy, CURLOPT_FOLLOWLOCATION, 1L));
    // Asks for the file as it is, and lets libcurl decode a body compressed all the same.
    t.Check(curl_easy_setopt(t.easy, CURLOPT_ACCEPT_ENCODING, "identity"));
    t.Check(curl_easy_setopt(t.easy, CURLOPT_MAXREDIRS, 10L));
    t.Check(curl_easy_setopt(t.easy, CURLOPT_PROTOCOLS_STR, "http,https"));
    t.Check(curl_easy_setopt(t.easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
    t.Check(curl_easy_setopt(t.easy, CURLOPT_WRITEFUNCTION, &Transfer::OnBody));
    t.Check(curl_easy_setopt(t.easy, CURLOPT_WRITEDATA, &t));
    t.Check(curl_easy_setopt(t.easy, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader));
    t.Check(curl_easy_setopt(t.easy, CURLOPT_HEADERDATA, &t));
}

CInternetSession::~CInternetSession() = default;

std::unique_ptr<CHttpFile> CInternetSession::OpenURL(const std::string& strUrl, bool headersOnly)
{
    Transfer& t = *m_pTransfer;
    t.Begin(strUrl, headersOnly);
    while (!t.headersDone && !t.done)
        t.Pump();
    // A failure after the headers belongs to the body: Read reports it.
    if (!t.headersDone && t.result != CURLE_OK)
        t.Fail(t.result, curl_easy_strerror(t.result));
    return std::unique_ptr<CHttpFile>(new CHttpFile(*this, t.serial));
}

void CInternetSession::SetCancelFlag(const std::atomic<bool>* pCancel)
{
    m_pTransfer->cancel = pCancel;
}

void CInternetSession::SetLimits(const Limits& limits)
{
    m_pTransfer->limits = limits;
}

const CInternetSession::Limits& CInternetSession::GetLimits() const
{
    return m_pTransfer->limits;
}

CHttpFile::CHttpFile(CInternetSession& session, unsigned nSerial) : m_pSession(&session), m_nSerial(nSerial) {}

CInternetSession::Transfer* CHttpFile::InProgress() const
{
    auto* t = m_pSession ? m_pSession->m_pTransfer.get() : nullptr;
    return t && t->active && t->serial == m_nSerial ? t : nullptr;
}

CHttpFile::~CHttpFile()
{
    Close();
}

std::string CHttpFile::QueryStatusCode() const
{
    long code = 0;
    auto* t = InProgress();
    if (!t || curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK)
        return {};
    return code > 0 ? std::to_string(code) : std::string();
}

std::optional<std::uint64_t> CHttpFile::QueryContentLength() const
{
    curl_off_t length = -1;
    auto* t = InProgress();
    if (!t || curl_easy_getinfo(t->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK || length < 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(length);
}

bool CHttpFile::IsEncoded() const
{
    auto* t = InProgress();
    return t && t->encoded;
}

std::size_t CHttpFile::Read(void* pBuffer, std::size_t nCount)
{
    auto* transfer = InProgress();
    if (!transfer)
        return 0;
    auto& t = *transfer;
    auto* out = static_cast<char*>(pBuffer);
    std::size_t got = 0;
    while (got < nCount) {
        got += t.Take(out + got, nCount - got);
        if (got == nCount)
            break;
        if (t.done) {
            if (t.result != CURLE_OK && got == 0)
                t.Fail(t.result, curl_easy_strerror(t.result));
            break;
        }
        t.Pump();
    }
    return got;
}

void CHttpFile::Close()
{
    if (auto* t = InProgress())
        t->End();
    m_pSession = nullptr;
}
