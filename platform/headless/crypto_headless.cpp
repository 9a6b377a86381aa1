// The cryptography seam over OpenSSL's libcrypto.
#include <openssl/evp.h>
#include <openssl/rand.h>

#include "platform/crypto.h"

namespace platform {

bool DerivePbkdf2Sha1(std::string_view password, std::string_view salt, std::uint32_t rounds,
                      std::uint8_t* out, std::size_t size) {
    return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                             reinterpret_cast<const unsigned char*>(salt.data()),
                             static_cast<int>(salt.size()), static_cast<int>(rounds), EVP_sha1(),
                             static_cast<int>(size), out) == 1;
}

bool RandomBytes(std::uint8_t* out, std::size_t size) {
    return RAND_bytes(out, static_cast<int>(size)) == 1;
}

AesBlock::~AesBlock() { EVP_CIPHER_CTX_free(static_cast<EVP_CIPHER_CTX*>(key_)); }

bool AesBlock::SetKey(const std::uint8_t* key, std::size_t size) {
    const EVP_CIPHER* cipher = size == 16   ? EVP_aes_128_ecb()
                               : size == 24 ? EVP_aes_192_ecb()
                               : size == 32 ? EVP_aes_256_ecb()
                                            : nullptr;
    EVP_CIPHER_CTX_free(static_cast<EVP_CIPHER_CTX*>(key_));
    key_ = nullptr;
    if (!cipher) return false;
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    if (!context) return false;
    if (EVP_EncryptInit_ex(context, cipher, nullptr, key, nullptr) != 1) {
        EVP_CIPHER_CTX_free(context);
        return false;
    }
    EVP_CIPHER_CTX_set_padding(context, 0);
    key_ = context;
    return true;
}

void AesBlock::Encrypt(const std::uint8_t* in, std::uint8_t* out) const {
    int written = 0;
    EVP_EncryptUpdate(static_cast<EVP_CIPHER_CTX*>(key_), out, &written, in, 16);
}

}  // namespace platform
