#pragma once
// A throw-away certificate authority and a server certificate it signed for 127.0.0.1, made by
// the real openssl tool in a directory of their own, for serving HTTPS on 127.0.0.1.

#include <filesystem>

#include "tests/support/TempDir.h"

class TestCertificates {
public:
    // Throws std::runtime_error, with openssl's words, when the tool fails.
    TestCertificates();

    // The authority's certificate (PEM), as CURL_CA_BUNDLE or SSL_CERT_FILE name it.
    std::filesystem::path AuthorityFile() const { return m_dir.Path() / "authority.pem"; }
    // A directory holding only the authority, under its hashed name, as SSL_CERT_DIR names it.
    std::filesystem::path AuthorityDirectory() const { return m_dir.Path() / "authorities"; }
    std::filesystem::path ServerCertificate() const { return m_dir.Path() / "server.pem"; }
    std::filesystem::path ServerKey() const { return m_dir.Path() / "server.key"; }

private:
    TempDir m_dir;
};

// Whether the openssl tool can be run.
bool OpensslInstalled();
