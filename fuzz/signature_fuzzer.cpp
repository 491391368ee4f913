// Fuzzes what a server or a file hands the trust checks: any bytes as a signature file, a
// trusted comment, a public key or a secret key. Nothing may crash, and a signature that is read
// must check as something (against a fixed key and file) without reading past what it holds.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "trust/Minisign.h"

namespace {

// What stops a secret key's passphrase from being asked: derivations cost seconds.
struct NoPassphrase {};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    static const MinisignPublicKey key = *ParseMinisignPublicKey("RWTd2ovzbREYDUwTbIcAx55odXyJTOKl1w3ZMjWgAtfLei0sgIq/0zR2");
    if (std::optional<MinisignSignature> signature = ParseMinisignSignature(text)) {
        if (VerifyMinisign(*signature, {key}, "the file") == SignatureCheck::Valid)
            std::abort();  // no forgery comes out of random bytes
        ParseTrustedComment(signature->trustedComment);
    }
    ParseTrustedComment(text);
    if (std::optional<MinisignPublicKey> parsed = ParseMinisignPublicKey(text))
        if (ParseMinisignPublicKey(MinisignPublicKeyText(*parsed))->key != parsed->key)
            std::abort();
    try {
        ReadMinisignSecretKey(text, []() -> std::string { throw NoPassphrase{}; });
    } catch (const MinisignKeyError&) {
    } catch (const NoPassphrase&) {
    }
    return 0;
}
