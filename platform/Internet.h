#pragma once
// HTTP requests of the program, over libcurl. A session keeps one connection cache, so that
// consecutive requests to one server reuse one connection. A response is read pull-style: its
// Read fills the caller's buffer unless the body ends, while the transfer waits whenever the
// caller is not reading. Used by one thread at a time; the cancel flag may be set from any.
//
// Throws CInternetException, carrying libcurl's text, on every network failure: no connection,
// a broken or stalled transfer, a body shorter than its Content-Length, a cancel. An HTTP error
// status is no failure: its body is read like any other. No compression is asked for; a body that
// a server compresses all the same (gzip or deflate) is decoded as it is read, and one in an
// encoding this program cannot read fails its first read.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/SystemProxy.h"

class CInternetException : public std::runtime_error {
public:
    CInternetException(int nCurlCode, const std::string& strText) : std::runtime_error(strText), m_nCurlCode(nCurlCode) {}
    // libcurl's result code (CURLcode or CURLMcode).
    int GetErrorCode() const { return m_nCurlCode; }
    bool IsCancel() const;
    // A failure that another try may not meet: no connection, a connection reset or broken off,
    // a time-out or stall, a body cut short. A name that does not resolve, a refused
    // certificate or a cancel is no such failure.
    bool IsTransient() const;
    // The request ran past one of its time limits (connecting, a stall, a document's deadline).
    bool IsTimeout() const;
    // No answer came: the connection was refused, or reset or closed before the server answered.
    bool IsConnectionLost() const;
    std::string GetErrorMessage() const { return what(); }

private:
    int m_nCurlCode;
};

class CHttpFile;

class CInternetSession {
public:
    struct Limits {
        std::chrono::seconds connectTimeout{30};
        // A transfer slower than minimumRate bytes a second on average for this long fails: a
        // silent server and one that drips a few bytes a second end alike.
        std::chrono::seconds stallTimeout{30};
        long minimumRate = 1024;
        std::chrono::seconds deadline{0};  // the longest a whole Document request may take; 0: no limit
    };
    // What a request is for: a file's body, read for as long as it keeps moving; the headers
    // alone (a HEAD); or a small document, which must also arrive whole within the deadline and
    // is asked for with "Cache-Control: no-cache", as one that keeps its name from one release to
    // the next must never come stale from a cache on the way.
    enum class Request { File, Headers, Document };
    // The rest of a file from a byte on ("Range: bytes=N-"): the continuation of a download that
    // broke off. With a validator (the ETag or Last-Modified of the answer that broke off) the
    // server sends the whole file instead when it has changed since ("If-Range").
    struct ByteRange {
        std::uint64_t nFrom = 0;
        std::string strIfRange;
    };

    // The certificate authorities a server's certificate must lead to instead of the system's: a
    // bundle file, a directory of certificates under their hashed names, or both (empty: the
    // system's).
    struct Authorities {
        std::string strFile;
        std::string strDirectory;
    };
    // Everything a session is made with, as one value: a run opens each of its connections from
    // the same one, so that none goes out without a setting the others have.
    struct Settings {
        std::string strAgent;
        Limits limits = {};
        Authorities authorities = {};
        // Requests go through this proxy, except to the hosts it bypasses, instead of through
        // what the environment names.
        std::optional<ProxySettings> proxy = std::nullopt;
        // While it is true, waiting requests and reads end within a tenth of a second with a
        // CInternetException (IsCancel()).
        const std::atomic<bool>* pCancel = nullptr;
    };

    // Throws CInternetException when libcurl cannot be set up or refuses a setting (an authority,
    // a proxy).
    explicit CInternetSession(const Settings& settings);
    ~CInternetSession();
    CInternetSession(const CInternetSession&) = delete;
    CInternetSession& operator=(const CInternetSession&) = delete;

    // Sends a GET (a HEAD for Request::Headers) for the URL made valid on the wire, follows
    // redirects and returns once the final response's headers have arrived. One response is open
    // at a time: opening another closes the previous one. A range is asked for, never assumed:
    // the status tells what came (206 the part, 200 the whole file).
    std::unique_ptr<CHttpFile> OpenURL(const std::string& strUrl, Request kind = Request::File,
                                       const std::optional<ByteRange>& range = std::nullopt);
    // The settings that change once the session is made: the cancel flag, which the download
    // manager points at its own, and the limits, which tests shorten.
    void SetCancelFlag(const std::atomic<bool>* pCancel);
    void SetLimits(const Limits& limits);
    // The settings the session was made with, as they are now: a further connection made from
    // them goes out as this one does.
    const Settings& GetSettings() const;

private:
    friend class CHttpFile;
    struct Transfer;
    std::unique_ptr<Transfer> m_pTransfer;
};


class CHttpFile {
public:
    ~CHttpFile();
    CHttpFile(const CHttpFile&) = delete;
    CHttpFile& operator=(const CHttpFile&) = delete;

    // The status code the server sent (200, 404); 0 while none has come.
    int QueryStatus() const;
    // The value of the final response's header of that name (any letter case), blanks around it
    // dropped; empty when it has none.
    std::string QueryHeader(std::string_view name) const;
    // Where the part a 206 answer carries begins ("Content-Range: bytes FIRST-LAST/LENGTH"), as it
    // came over the wire; nothing for any other answer or an encoded body.
    std::optional<std::uint64_t> QueryPartStart() const;
    // How long the server asks to be left alone (Retry-After, in seconds or as a date), or
    // nothing when it does not say.
    std::optional<std::chrono::seconds> QueryRetryAfter() const;
    // The Content-Length of the body, or nothing when the server announced none. For an encoded
    // body it counts the encoded bytes, not those that Read delivers.
    std::optional<std::uint64_t> QueryContentLength() const;
    // The server compressed the body (Content-Encoding) although it was not asked to; Read
    // delivers it decoded.
    bool IsEncoded() const;
    // Reads up to nCount bytes and returns how many; fewer only at the end of the body, 0 there.
    std::size_t Read(void* pBuffer, std::size_t nCount);
    // Reads what has arrived of the body, up to nCount bytes, waiting only while nothing has; 0 at
    // its end. Bytes that arrive while it waits go straight into the buffer: for big reads on a
    // fast network, one copy fewer than Read.
    std::size_t ReadSome(void* pBuffer, std::size_t nCount);
    // Ends the request; a body not read to its end is dropped with its connection.
    void Close();

private:
    friend class CInternetSession;
    CHttpFile(CInternetSession& session, unsigned nSerial);
    // The session's transfer while this response is the one in progress, else null.
    CInternetSession::Transfer* InProgress() const;
    CInternetSession* m_pSession;
    unsigned m_nSerial;
};
