#pragma once
// Fetching what a server publishes before the downloads, one way for the manifest and the
// package alike: over the run's session, each request tried again after a passing failure as the
// retry policy says, and with keys, the signature beside it (NAME.minisig) vetted and checked
// before anything in it is believed.
//
// Threads: the caller's; the requests are made one after the other, in the order documented.
// Errors: what keeps a document from being used comes back as a Failure, whose sentence is the
// player's: a number shown as "Error line:%d" (worded here, the one place that knows which
// number means what) or a sentence of its own. Its cause is in the log by the time it comes
// back: written here, or said before in other words, by the reading (a server that could not be
// reached, a text cut short), by the run that could not open its session, or in the request's
// note (a page-not-found text).

#include <optional>
#include <string>
#include <variant>

#include "sentences/Failure.h"
#include "trust/UpdateTrust.h"

class CInternetSession;
struct RetryPolicy;

struct SignedDocument {
    std::string strText;                     // the exact bytes the server sent
    std::optional<Failure> failure;          // the server did not serve a document that can be used
};

// The manifest at strUrl: asked for first, then (with keys in pTrust) its signature, which must
// hold over its exact bytes. An unreachable server is 493 (499 without a session: the run could
// not open one), an error status or the server's page-not-found text 546, and a body too large or
// cut short a sentence; nothing more is asked of a server once one of them came back.
SignedDocument FetchSignedDocument(const std::string& strUrl, CUpdateTrust* pTrust, CInternetSession* pSession,
                                   const RetryPolicy* pRetries);

// The signature beside the file at strUrl, vetted for the file name strName: what the file's
// bytes must then be accepted against, or why it is refused (logged, its cause with the URL).
std::variant<VettedSignature, Failure> FetchSignature(CUpdateTrust& trust, const std::string& strName,
                                                      const std::string& strUrl, CInternetSession* pSession,
                                                      const RetryPolicy* pRetries);
