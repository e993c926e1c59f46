// The platform-free half of the SHA-256 wrapper: the one-call form and the digest's text.
#include "framework/sha256.h"

bool Sha256Hex(const void* data, size_t size, std::string* hex) {
    CSha256 hash;
    hash.Update(data, size);
    return hash.Finish(hex);
}

std::string HexDigits(const unsigned char* bytes, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * size);
    for (size_t i = 0; i < size; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0xF];
    }
    return text;
}
