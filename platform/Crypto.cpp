#include "platform/Crypto.h"

#include <cstdint>
#include <mutex>
#include <new>
#include <sodium.h>
#include <stdexcept>

static_assert(sizeof(Ed25519PublicKey) == crypto_sign_PUBLICKEYBYTES);
static_assert(sizeof(Ed25519SecretKey) == crypto_sign_SECRETKEYBYTES);
static_assert(sizeof(Ed25519Signature) == crypto_sign_BYTES);
static_assert(sizeof(std::array<std::uint8_t, 32>) == crypto_pwhash_scryptsalsa208sha256_SALTBYTES);

// libsodium picks its fastest implementations and opens its random source once, before any use;
// every entry point over it goes through here first.
void EnsureSodium()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (sodium_init() < 0)
            throw std::runtime_error("libsodium cannot be initialised");
    });
}

namespace {

const unsigned char* Bytes(std::string_view text)
{
    return reinterpret_cast<const unsigned char*>(text.data());
}

}  // namespace

bool VerifyEd25519(const Ed25519Signature& signature, std::string_view message, const Ed25519PublicKey& key)
{
    EnsureSodium();
    return crypto_sign_verify_detached(signature.data(), Bytes(message), message.size(), key.data()) == 0;
}

Ed25519Signature SignEd25519(std::string_view message, const Ed25519SecretKey& key)
{
    EnsureSodium();
    Ed25519Signature signature{};
    crypto_sign_detached(signature.data(), nullptr, Bytes(message), message.size(), key.data());
    return signature;
}

Ed25519PublicKey PublicKeyOfSeed(const Ed25519SecretKey& key)
{
    EnsureSodium();
    Ed25519PublicKey publicKey{};
    Ed25519SecretKey rebuilt{};
    crypto_sign_seed_keypair(publicKey.data(), rebuilt.data(), key.data());
    sodium_memzero(rebuilt.data(), rebuilt.size());
    return publicKey;
}

std::string ToHex(const std::uint8_t* pData, std::size_t nLength)
{
    std::string hex(nLength * 2 + 1, '\0');
    sodium_bin2hex(hex.data(), hex.size(), pData, nLength);
    hex.pop_back();  // the terminating NUL
    return hex;
}

std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text)
{
    EnsureSodium();
    std::vector<std::uint8_t> bytes(text.size() / 4 * 3 + 3);
    std::size_t length = 0;
    const char* end = nullptr;
    if (sodium_base642bin(bytes.data(), bytes.size(), text.data(), text.size(), nullptr, &length, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != text.data() + text.size())
        return std::nullopt;  // not base64, unpadded, or followed by something else
    bytes.resize(length);
    return bytes;
}

std::string EncodeBase64(const std::uint8_t* pData, std::size_t nLength)
{
    EnsureSodium();
    std::string text(sodium_base64_ENCODED_LEN(nLength, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), pData, nLength, sodium_base64_VARIANT_ORIGINAL);
    text.pop_back();  // the terminating NUL
    return text;
}

bool DeriveScrypt(std::uint8_t* pOut, std::size_t nLength, std::string_view passphrase,
                  const std::array<std::uint8_t, 32>& salt, std::uint64_t opsLimit, std::uint64_t memLimit)
{
    EnsureSodium();
    // A damaged or hostile key file could ask for more than the machine has: refused, not tried.
    if (opsLimit > crypto_pwhash_scryptsalsa208sha256_OPSLIMIT_MAX ||
        memLimit > crypto_pwhash_scryptsalsa208sha256_MEMLIMIT_MAX || memLimit > SIZE_MAX)
        return false;
    return crypto_pwhash_scryptsalsa208sha256(pOut, nLength, passphrase.data(), passphrase.size(), salt.data(),
                                              static_cast<unsigned long long>(opsLimit),
                                              static_cast<std::size_t>(memLimit)) == 0;
}

bool EqualBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t nLength)
{
    EnsureSodium();
    return sodium_memcmp(a, b, nLength) == 0;
}
