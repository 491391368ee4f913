#include "digest/Sha256.h"

#include <new>

#include "platform/win32/Wide.h"

#include <bcrypt.h>

namespace {

// One provider for the process: opening it is the costly part, and a provider serves any
// number of hash objects on any threads.
BCRYPT_ALG_HANDLE Provider()
{
    static const BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE handle = nullptr;
        return BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM, nullptr, 0) >= 0 ? handle : nullptr;
    }();
    return provider;
}

}  // namespace

struct CSha256::State {
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~State()
    {
        if (hash)
            BCryptDestroyHash(hash);
    }
};

// The hash object's memory is BCrypt's own (a null buffer asks it to keep it).
CSha256::CSha256() : m_pState(std::make_unique<State>())
{
    if (!Provider() || BCryptCreateHash(Provider(), &m_pState->hash, nullptr, 0, nullptr, 0, 0) < 0)
        throw std::bad_alloc();
}

CSha256::~CSha256() = default;

void CSha256::Update(const void* pData, std::size_t nLength)
{
    // BCryptHashData takes a ULONG length: a larger buffer goes in pieces.
    const auto* p = static_cast<const unsigned char*>(pData);
    while (nLength > 0) {
        const ULONG piece = static_cast<ULONG>(nLength < (1u << 30) ? nLength : (1u << 30));
        BCryptHashData(m_pState->hash, const_cast<PUCHAR>(p), piece, 0);
        p += piece;
        nLength -= piece;
    }
}

Sha256Digest CSha256::Final()
{
    Sha256Digest digest{};
    BCryptFinishHash(m_pState->hash, digest.data(), static_cast<ULONG>(digest.size()), 0);
    return digest;
}
