// The system's cryptography, as far as the program needs it: PBKDF2 over HMAC-SHA1, one AES
// block at a time, and random bytes. Feedback modes are built above, over the single block.
// Windows: bcrypt.dll, loaded on first use; Linux: OpenSSL's libcrypto.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace platform {

// PBKDF2-HMAC-SHA1 of password and salt over rounds iterations into out[0..size). False where
// the system cannot derive it.
bool DerivePbkdf2Sha1(std::string_view password, std::string_view salt, std::uint32_t rounds,
                      std::uint8_t* out, std::size_t size);

// Fills out[0..size) with random bytes from the system's generator. False where it fails.
bool RandomBytes(std::uint8_t* out, std::size_t size);

// AES encryption of one 16-byte block (ECB) under a 16-, 24- or 32-byte key.
class AesBlock {
public:
    AesBlock() = default;
    ~AesBlock();
    AesBlock(const AesBlock&) = delete;
    AesBlock& operator=(const AesBlock&) = delete;

    // False where the key's size is none of AES's or the system refuses it.
    bool SetKey(const std::uint8_t* key, std::size_t size);
    // out may be in. Needs a key.
    void Encrypt(const std::uint8_t* in, std::uint8_t* out) const;

private:
    void* key_ = nullptr;  // the system's key object
};

}  // namespace platform
