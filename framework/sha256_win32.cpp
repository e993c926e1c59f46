// SHA-256 through CNG (bcrypt.dll). Wine has implemented BCRYPT_SHA256_ALGORITHM with these
// calls since long before Wine 8; the object buffer is left to CNG (null, 0), which Windows 7
// and later and Wine accept.
#include <windows.h>

#include <bcrypt.h>

#include <climits>

#include "framework/sha256.h"

namespace {

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

}  // namespace

struct CSha256::Impl {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool failed = false;
};

CSha256::CSha256() : m_pImpl(std::make_unique<Impl>()) {
    Impl& p = *m_pImpl;
    p.failed = !Succeeded(BCryptOpenAlgorithmProvider(&p.algorithm, BCRYPT_SHA256_ALGORITHM,
                                                      nullptr, 0)) ||
               !Succeeded(BCryptCreateHash(p.algorithm, &p.hash, nullptr, 0, nullptr, 0, 0));
}

CSha256::~CSha256() {
    if (m_pImpl->hash) BCryptDestroyHash(m_pImpl->hash);
    if (m_pImpl->algorithm) BCryptCloseAlgorithmProvider(m_pImpl->algorithm, 0);
}

void CSha256::Update(const void* data, size_t size) {
    auto* bytes = static_cast<unsigned char*>(const_cast<void*>(data));
    // BCryptHashData takes a ULONG count: pieces past 4 GiB go in parts.
    while (!m_pImpl->failed && size > 0) {
        const ULONG piece = size > ULONG_MAX ? ULONG_MAX : static_cast<ULONG>(size);
        if (!Succeeded(BCryptHashData(m_pImpl->hash, bytes, piece, 0))) m_pImpl->failed = true;
        bytes += piece;
        size -= piece;
    }
}

bool CSha256::Finish(std::string* hex) {
    unsigned char digest[32];
    if (m_pImpl->failed || !Succeeded(BCryptFinishHash(m_pImpl->hash, digest, sizeof(digest), 0))) {
        m_pImpl->failed = true;
        return false;
    }
    // CNG refuses a second finish; say so without asking it.
    m_pImpl->failed = true;
    *hex = HexDigits(digest, sizeof(digest));
    return true;
}
