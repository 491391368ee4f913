#pragma once
// Fetching what a server publishes before the downloads, one way for the manifest and the
// package alike: over the run's session, each request tried again after a passing failure as the
// retry policy says, and with keys, the signature beside it (NAME.minisig) vetted and checked
// before anything in it is believed.
//
// Threads: the caller's; the requests are made one after the other, in the order documented.
// Errors: what keeps a document from being used comes back for the player, as a number shown as
// "Error line:%d" or as a sentence; the particulars go to the log.

#include <optional>
#include <string>
#include <variant>

#include "trust/UpdateTrust.h"

class CInternetSession;
struct RetryPolicy;

// Why a document cannot be used, for the player: a number (0 for none), or a sentence.
struct DocumentFailure {
    int nErrorLine = 0;
    std::string strMessage;
};

struct SignedDocument {
    std::string strText;                     // the exact bytes the server sent
    std::optional<DocumentFailure> failure;  // the server did not serve a document that can be used
};

// The manifest at strUrl: asked for first, then (with keys in pTrust) its signature, which must
// hold over its exact bytes. An unreachable server is 493 (499 without a session: the run could
// not open one), an error status or the server's page-not-found text 546, and a body too large or
// cut short a sentence; nothing more is asked of a server once one of them came back.
SignedDocument FetchSignedDocument(const std::string& strUrl, CUpdateTrust* pTrust, CInternetSession* pSession,
                                   const RetryPolicy* pRetries);

// The signature beside the file at strUrl, vetted for the file name strName: what the file's
// bytes must then be accepted against, or why it is refused (logged with the URL).
std::variant<VettedSignature, TrustRefusal> FetchSignature(CUpdateTrust& trust, const std::string& strName,
                                                           const std::string& strUrl, CInternetSession* pSession,
                                                           const RetryPolicy* pRetries);
