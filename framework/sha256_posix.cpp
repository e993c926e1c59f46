// SHA-256 through OpenSSL's EVP interface (libcrypto).
#include <openssl/evp.h>

#include "framework/sha256.h"

struct CSha256::Impl {
    EVP_MD_CTX* context = nullptr;
    bool failed = false;
};

CSha256::CSha256() : m_pImpl(std::make_unique<Impl>()) {
    m_pImpl->context = EVP_MD_CTX_new();
    m_pImpl->failed = m_pImpl->context == nullptr ||
                      EVP_DigestInit_ex(m_pImpl->context, EVP_sha256(), nullptr) != 1;
}

CSha256::~CSha256() {
    EVP_MD_CTX_free(m_pImpl->context);
}

void CSha256::Update(const void* data, size_t size) {
    if (m_pImpl->failed || size == 0) return;
    if (EVP_DigestUpdate(m_pImpl->context, data, size) != 1) m_pImpl->failed = true;
}

bool CSha256::Finish(std::string* hex) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (m_pImpl->failed || EVP_DigestFinal_ex(m_pImpl->context, digest, &length) != 1 ||
        length != 32) {
        m_pImpl->failed = true;
        return false;
    }
    // A second Finish would hash nothing into a finalised context.
    m_pImpl->failed = true;
    *hex = HexDigits(digest, length);
    return true;
}
