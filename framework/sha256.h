// SHA-256 from the system: CNG (bcrypt) on Windows, OpenSSL's libcrypto elsewhere. The engine
// compares images with the sums published beside them, so a failed system call must never
// come out as a digest.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

class CSha256 {
  public:
    CSha256();
    ~CSha256();
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    // Any number of pieces of any size, in order.
    void Update(const void* data, size_t size);
    // The digest of everything given, as 64 lower-case hexadecimal digits; false (and `hex`
    // untouched) when the system's hash could not be set up or failed on any piece. Once only.
    bool Finish(std::string* hex);

  private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

// One call: the digest of `size` bytes; false when the system's hash failed.
bool Sha256Hex(const void* data, size_t size, std::string* hex);

// Lower-case hexadecimal of `size` bytes.
std::string HexDigits(const unsigned char* bytes, size_t size);
