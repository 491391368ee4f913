#pragma once
// SHA-256, the digest a manifest may give beside MD5: over OpenSSL's libcrypto on Linux (which
// libcurl brings into the process anyway), over the system's BCrypt on Windows. Threads: an
// object is used by one thread at a time. Errors: a context that cannot be made throws
// std::bad_alloc.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

using Sha256Digest = std::array<std::uint8_t, 32>;

// SHA-256, fed in pieces.
class CSha256 {
public:
    CSha256();
    ~CSha256();
    void Update(const void* pData, std::size_t nLength);
    Sha256Digest Final();

private:
    struct State;
    std::unique_ptr<State> m_pState;
};
