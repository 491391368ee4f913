#pragma once
// BLAKE2b over libsodium: the digest minisign signs a large file by (BLAKE2b-512), and its key
// checksum (BLAKE2b-256). Threads: an object is used by one thread at a time. Errors: none but a
// libsodium that cannot start, which throws std::runtime_error.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

using Blake2b512Digest = std::array<std::uint8_t, 64>;

// BLAKE2b with a 64-byte output and no key, fed in pieces.
class CBlake2b512 {
public:
    CBlake2b512();
    ~CBlake2b512();
    void Update(const void* pData, std::size_t nLength);
    Blake2b512Digest Final();

private:
    struct State;
    std::unique_ptr<State> m_pState;
};

// BLAKE2b with a 32-byte output and no key, of bytes in memory (minisign's key checksum). Not a
// shortened BLAKE2b-512: the output length is part of BLAKE2b's parameters.
using Blake2b256Digest = std::array<std::uint8_t, 32>;
Blake2b256Digest Blake2b256(std::string_view data);
