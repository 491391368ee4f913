#include "digest/Blake2b.h"

#include <sodium.h>

#include "platform/Crypto.h"

static_assert(sizeof(Blake2b512Digest) == crypto_generichash_BYTES_MAX);

struct CBlake2b512::State {
    crypto_generichash_state state;
};

CBlake2b512::CBlake2b512() : m_pState(std::make_unique<State>())
{
    EnsureSodium();
    crypto_generichash_init(&m_pState->state, nullptr, 0, crypto_generichash_BYTES_MAX);
}

CBlake2b512::~CBlake2b512() = default;

void CBlake2b512::Update(const void* pData, std::size_t nLength)
{
    crypto_generichash_update(&m_pState->state, static_cast<const unsigned char*>(pData), nLength);
}

Blake2b512Digest CBlake2b512::Final()
{
    Blake2b512Digest digest{};
    crypto_generichash_final(&m_pState->state, digest.data(), digest.size());
    return digest;
}

Blake2b256Digest Blake2b256(std::string_view data)
{
    EnsureSodium();
    Blake2b256Digest digest{};
    crypto_generichash(digest.data(), digest.size(), reinterpret_cast<const unsigned char*>(data.data()), data.size(),
                       nullptr, 0);
    return digest;
}
