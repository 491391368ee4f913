#include "platform/Internet.h"

#include "platform/HttpHeaders.h"
#include "platform/Url.h"

#include <algorithm>
#include <ctime>
#include <cstring>
#include <curl/curl.h>
#include <mutex>
#include <zlib.h>

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

// How much compressed body the decoder takes in at a time.
constexpr std::size_t kDecoderInput = 64 * 1024;

// Inflates a body that the server compressed (gzip, or zlib's "deflate"), a member at a time:
// only as much is decoded as the reader asks for, so memory stays flat however well it packs.
struct BodyDecoder {
    z_stream stream{};
    std::vector<char> input = std::vector<char>(kDecoderInput);
    bool betweenMembers = false;  // a gzip member ended; another may follow, or the body ends

    BodyDecoder()
    {
        if (inflateInit2(&stream, 15 + 32) != Z_OK)  // gzip or zlib, told by the header
            throw std::bad_alloc();
    }
    ~BodyDecoder() { inflateEnd(&stream); }
    BodyDecoder(const BodyDecoder&) = delete;
    BodyDecoder& operator=(const BodyDecoder&) = delete;
};

}  // namespace

// One easy handle in one multi handle: the multi handle keeps the connection cache, and driving
// it ourselves lets a read wait for exactly as much data as the caller asked for.
struct CInternetSession::Transfer {
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    Settings settings;
    curl_slist* requestHeaders = nullptr;  // the request in progress's own, when it has any
    char errorText[CURL_ERROR_SIZE] = {};

    // State of the request in progress.
    unsigned serial = 0;      // tells a response whether it is still the one in progress
    bool active = false;      // the easy handle is in the multi handle
    bool headersDone = false; // the final response's headers have arrived
    bool done = false;        // the transfer has ended, with `result`
    bool paused = false;      // the write callback refused data until the next read
    HttpHeaderBlock headers;  // the current header block
    std::unique_ptr<BodyDecoder> decoder;  // for an encoded body, made when its reading begins
    CURLcode result = CURLE_OK;
    std::vector<char> pending; // body bytes received and not yet read
    std::size_t pendingPos = 0;
    // A read waiting with nothing pending: the body's next bytes go straight into its buffer.
    struct DirectRead {
        char* out = nullptr;
        std::size_t room = 0, got = 0;
    } direct;

    ~Transfer()
    {
        End();
        if (easy)
            curl_easy_cleanup(easy);
        if (multi)
            curl_multi_cleanup(multi);
    }

    [[noreturn]] void Fail(int code, const std::string& generic)
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

    void Begin(const std::string& url, Request kind, const std::optional<ByteRange>& range)
    {
        End();
        ++serial;
        errorText[0] = '\0';
        Check(curl_easy_setopt(easy, CURLOPT_URL, MakeUrlValid(url).c_str()));
        if (kind == Request::Headers)
            Check(curl_easy_setopt(easy, CURLOPT_NOBODY, 1L));
        else
            Check(curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L));
        const Limits& limits = settings.limits;
        Check(curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, static_cast<long>(limits.connectTimeout.count())));
        Check(curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, std::max(1L, limits.minimumRate)));
        Check(curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, static_cast<long>(limits.stallTimeout.count())));
        const long deadline = kind == Request::Document ? static_cast<long>(limits.deadline.count()) : 0L;
        Check(curl_easy_setopt(easy, CURLOPT_TIMEOUT, deadline));
        // libcurl's own resume refuses a 200; asked for as a plain range, a whole file that comes
        // instead is the caller's to take.
        Check(curl_easy_setopt(easy, CURLOPT_RANGE, range ? (std::to_string(range->nFrom) + "-").c_str() : nullptr));
        if (kind == Request::Document)
            AddRequestHeader("Cache-Control: no-cache");
        if (range && !range->strIfRange.empty())
            AddRequestHeader("If-Range: " + range->strIfRange);
        Check(curl_easy_setopt(easy, CURLOPT_HTTPHEADER, requestHeaders));
        Check(curl_multi_add_handle(multi, easy));
        active = true;
    }

    void AddRequestHeader(const std::string& header)
    {
        curl_slist* list = curl_slist_append(requestHeaders, header.c_str());
        if (!list)
            throw std::bad_alloc();
        requestHeaders = list;
    }

    // Takes the easy handle out of the multi handle; an unfinished transfer loses its connection.
    void End()
    {
        if (active)
            curl_multi_remove_handle(multi, easy);
        active = headersDone = done = paused = false;
        if (easy)
            curl_easy_setopt(easy, CURLOPT_HTTPHEADER, nullptr);
        curl_slist_free_all(requestHeaders);
        requestHeaders = nullptr;
        headers.Clear();
        decoder.reset();
        result = CURLE_OK;
        pending.clear();
        pendingPos = 0;
    }

    // A server's certificate must lead to these authorities, where any are named.
    void Trust(const Authorities& authorities)
    {
        if (!authorities.strFile.empty())
            Check(curl_easy_setopt(easy, CURLOPT_CAINFO, authorities.strFile.c_str()));
        // Windows' TLS takes no directory of authorities: its own store counts there, and a file.
        const CURLcode code = authorities.strDirectory.empty()
                                  ? CURLE_OK
                                  : curl_easy_setopt(easy, CURLOPT_CAPATH, authorities.strDirectory.c_str());
        Check(code == CURLE_NOT_BUILT_IN ? CURLE_OK : code);
    }

    void Route(const ProxySettings& proxy)
    {
        Check(curl_easy_setopt(easy, CURLOPT_PROXY, proxy.strServer.c_str()));
        Check(curl_easy_setopt(easy, CURLOPT_NOPROXY, proxy.strBypass.c_str()));
    }

    bool Cancelled() const { return settings.pCancel && settings.pCancel->load(std::memory_order_relaxed); }

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

    // Reads the body as it came: fills the buffer unless the body ends.
    std::size_t ReadRaw(char* out, std::size_t count)
    {
        std::size_t got = 0;
        while (got < count) {
            got += Take(out + got, count - got);
            if (got == count)
                break;
            if (done) {
                if (result != CURLE_OK && got == 0)
                    Fail(result, curl_easy_strerror(result));
                break;
            }
            Pump();
        }
        return got;
    }

    // Some of the body as it came, waiting only while none has arrived, the bytes that arrive
    // meanwhile written straight into `out`; 0 at its end.
    std::size_t ReadSomeDirect(char* out, std::size_t count)
    {
        if (Available() > 0 || done || count == 0)
            return ReadSome(out, count);
        direct = {out, count, 0};
        const std::unique_ptr<DirectRead, void (*)(DirectRead*)> ending(&direct, [](DirectRead* d) { d->out = nullptr; });
        while (direct.got == 0 && Available() == 0 && !done)
            Pump();
        return direct.got > 0 ? direct.got : ReadSome(out, count);  // more may be pending: the next read takes it
    }

    // Some of the body as it came, waiting only while none has arrived; 0 at its end.
    std::size_t ReadSome(char* out, std::size_t count)
    {
        while (Available() == 0 && !done)
            Pump();
        if (Available() == 0 && result != CURLE_OK)
            Fail(result, curl_easy_strerror(result));
        return Take(out, count);
    }

    [[noreturn]] void FailDecoding(const std::string& why)
    {
        Fail(CURLE_BAD_CONTENT_ENCODING, "the server's " + headers.Encoding() + " body " + why);
    }

    // Reads the decoded body: fills the buffer unless the body ends, or with `some`, once something
    // is decoded, until the input at hand runs out.
    std::size_t ReadDecoded(char* out, std::size_t count, bool some = false)
    {
        if (!CanDecodeEncoding(headers.Encoding()))
            Fail(CURLE_BAD_CONTENT_ENCODING, "the server sent its answer in an encoding this program cannot read: " +
                                                 headers.Encoding());
        if (!decoder)
            decoder = std::make_unique<BodyDecoder>();
        z_stream& z = decoder->stream;
        std::size_t got = 0;
        while (got < count) {
            if (z.avail_in == 0) {
                if (some && got > 0 && Available() == 0)
                    break;
                std::size_t n = ReadSome(decoder->input.data(), decoder->input.size());
                if (n == 0) {
                    if (!decoder->betweenMembers)
                        FailDecoding("ends in the middle");
                    break;  // the body ended after a whole member
                }
                z.next_in = reinterpret_cast<Bytef*>(decoder->input.data());
                z.avail_in = static_cast<uInt>(n);
            }
            if (decoder->betweenMembers) {  // more follows the member that ended: another one
                inflateReset(&z);
                decoder->betweenMembers = false;
            }
            z.next_out = reinterpret_cast<Bytef*>(out + got);
            z.avail_out = static_cast<uInt>(std::min<std::size_t>(count - got, 1u << 30));
            const int status = inflate(&z, Z_NO_FLUSH);
            got = static_cast<std::size_t>(reinterpret_cast<char*>(z.next_out) - out);
            if (status == Z_STREAM_END)
                decoder->betweenMembers = true;
            else if (status != Z_OK && status != Z_BUF_ERROR)
                FailDecoding("is damaged");
        }
        return got;
    }

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
        const std::size_t total = size * count;
        self->headersDone = true;
        if (DirectRead& direct = self->direct; direct.out && self->Available() == 0) {
            const std::size_t taken = std::min(total, direct.room - direct.got);
            std::memcpy(direct.out + direct.got, data, taken);
            direct.got += taken;
            self->pending.insert(self->pending.end(), data + taken, data + total);
            return total;
        }
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
        if (self->headers.TakeLine(std::string_view(data, size * count))) {
            long code = 0;
            curl_easy_getinfo(self->easy, CURLINFO_RESPONSE_CODE, &code);
            if (code >= 200 && !(IsRedirectStatus(code) && self->headers.HasLocation()))
                self->headersDone = true;
        }
        return size * count;
    }
};

CInternetSession::CInternetSession(const Settings& settings) : m_pTransfer(std::make_unique<Transfer>())
{
    InitCurlOnce();
    Transfer& t = *m_pTransfer;
    t.multi = curl_multi_init();
    t.easy = curl_easy_init();
    if (!t.multi || !t.easy)
        throw CInternetException(CURLE_FAILED_INIT, curl_easy_strerror(CURLE_FAILED_INIT));
    t.Check(curl_easy_setopt(t.easy, CURLOPT_USERAGENT, settings.strAgent.c_str()));
    t.Check(curl_easy_setopt(t.easy, CURLOPT_ERRORBUFFER, t.errorText));
    t.Check(curl_easy_setopt(t.easy, CURLOPT_NOSIGNAL, 1L));
    t.Check(curl_easy_setopt(t.easy, CURLOPT_BUFFERSIZE, 128L * 1024));
    t.Check(curl_easy_setopt(t.easy, CURLOPT_FOLLOWLOCATION, 1L));
    t.Check(curl_easy_setopt(t.easy, CURLOPT_MAXREDIRS, 10L));
    t.Check(curl_easy_setopt(t.easy, CURLOPT_PROTOCOLS_STR, "http,https"));
    t.Check(curl_easy_setopt(t.easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
    t.Check(curl_easy_setopt(t.easy, CURLOPT_WRITEFUNCTION, &Transfer::OnBody));
    t.Check(curl_easy_setopt(t.easy, CURLOPT_WRITEDATA, &t));
    t.Check(curl_easy_setopt(t.easy, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader));
    t.Check(curl_easy_setopt(t.easy, CURLOPT_HEADERDATA, &t));
    t.Trust(settings.authorities);
    if (settings.proxy)
        t.Route(*settings.proxy);
    t.settings = settings;
}

CInternetSession::~CInternetSession() = default;

std::unique_ptr<CHttpFile> CInternetSession::OpenURL(const std::string& strUrl, Request kind,
                                                     const std::optional<ByteRange>& range)
{
    Transfer& t = *m_pTransfer;
    t.Begin(strUrl, kind, range);
    while (!t.headersDone && !t.done)
        t.Pump();
    // A failure after the headers belongs to the body: Read reports it.
    if (!t.headersDone && t.result != CURLE_OK)
        t.Fail(t.result, curl_easy_strerror(t.result));
    return std::unique_ptr<CHttpFile>(new CHttpFile(*this, t.serial));
}

void CInternetSession::SetCancelFlag(const std::atomic<bool>* pCancel)
{
    m_pTransfer->settings.pCancel = pCancel;
}

void CInternetSession::SetLimits(const Limits& limits)
{
    m_pTransfer->settings.limits = limits;
}

const CInternetSession::Settings& CInternetSession::GetSettings() const
{
    return m_pTransfer->settings;
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

int CHttpFile::QueryStatus() const
{
    long code = 0;
    auto* t = InProgress();
    if (!t || curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK || code < 0 || code > 999)
        return 0;
    return static_cast<int>(code);
}

std::string CHttpFile::QueryHeader(std::string_view name) const
{
    auto* t = InProgress();
    return t ? t->headers.Find(name) : std::string();
}

std::optional<std::uint64_t> CHttpFile::QueryPartStart() const
{
    if (QueryStatus() != 206 || IsEncoded())
        return std::nullopt;
    return ContentRangeStart(QueryHeader("Content-Range"));
}

std::optional<std::chrono::seconds> CHttpFile::QueryRetryAfter() const
{
    return RetryAfterDelay(QueryHeader("Retry-After"), std::time(nullptr));
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
    return t && !t->headers.Encoding().empty();
}

std::size_t CHttpFile::Read(void* pBuffer, std::size_t nCount)
{
    auto* transfer = InProgress();
    if (!transfer)
        return 0;
    auto* out = static_cast<char*>(pBuffer);
    return transfer->headers.Encoding().empty() ? transfer->ReadRaw(out, nCount) : transfer->ReadDecoded(out, nCount);
}

std::size_t CHttpFile::ReadSome(void* pBuffer, std::size_t nCount)
{
    auto* transfer = InProgress();
    if (!transfer)
        return 0;
    auto* out = static_cast<char*>(pBuffer);
    return transfer->headers.Encoding().empty() ? transfer->ReadSomeDirect(out, nCount)
                                                : transfer->ReadDecoded(out, nCount, true);
}

void CHttpFile::Close()
{
    if (auto* t = InProgress())
        t->End();
    m_pSession = nullptr;
}
