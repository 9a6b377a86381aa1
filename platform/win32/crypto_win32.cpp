// The cryptography seam over bcrypt.dll (Windows 7 and later), bound by name on first use so
// that the program imports nothing new and loads the library only when it is asked for.
#include <windows.h>
// bcrypt.h needs the types of windows.h.
#include <bcrypt.h>

#include "platform/crypto.h"

namespace platform {

namespace {

using OpenAlgorithm = LONG(WINAPI*)(BCRYPT_ALG_HANDLE*, LPCWSTR, LPCWSTR, ULONG);
using DerivePbkdf2 = LONG(WINAPI*)(BCRYPT_ALG_HANDLE, PUCHAR, ULONG, PUCHAR, ULONG, ULONGLONG,
                                   PUCHAR, ULONG, ULONG);
using CloseAlgorithm = LONG(WINAPI*)(BCRYPT_ALG_HANDLE, ULONG);
using SetProperty = LONG(WINAPI*)(BCRYPT_HANDLE, LPCWSTR, PUCHAR, ULONG, ULONG);
using GenerateKey = LONG(WINAPI*)(BCRYPT_ALG_HANDLE, BCRYPT_KEY_HANDLE*, PUCHAR, ULONG, PUCHAR,
                                  ULONG, ULONG);
using EncryptFunction = LONG(WINAPI*)(BCRYPT_KEY_HANDLE, PUCHAR, ULONG, void*, PUCHAR, ULONG,
                                      PUCHAR, ULONG, ULONG*, ULONG);
using DestroyKey = LONG(WINAPI*)(BCRYPT_KEY_HANDLE);
using GenRandom = LONG(WINAPI*)(BCRYPT_ALG_HANDLE, PUCHAR, ULONG, ULONG);

// The library stays loaded once it is: the key objects and the AES provider live in it. The
// first calls (which bind) come from one thread at a time: the server probe's.
HMODULE g_bcrypt = nullptr;

template <class Function>
Function Bcrypt(const char* name) {
    if (!g_bcrypt) g_bcrypt = LoadLibraryA("bcrypt.dll");
    return g_bcrypt
               ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(g_bcrypt, name)))
               : nullptr;
}

// The AES provider in ECB mode, opened once: every key made from it needs it open.
BCRYPT_ALG_HANDLE g_aes = nullptr;

BCRYPT_ALG_HANDLE AesProvider() {
    BCRYPT_ALG_HANDLE& provider = g_aes;
    if (provider) return provider;
    auto open = Bcrypt<OpenAlgorithm>("BCryptOpenAlgorithmProvider");
    auto set = Bcrypt<SetProperty>("BCryptSetProperty");
    auto close = Bcrypt<CloseAlgorithm>("BCryptCloseAlgorithmProvider");
    BCRYPT_ALG_HANDLE opened = nullptr;
    if (!open || !set || !close || open(&opened, BCRYPT_AES_ALGORITHM, nullptr, 0) != 0)
        return nullptr;
    static const wchar_t kEcb[] = BCRYPT_CHAIN_MODE_ECB;
    if (set(opened, BCRYPT_CHAINING_MODE, reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(kEcb)),
            sizeof kEcb, 0) != 0) {
        close(opened, 0);
        return nullptr;
    }
    return provider = opened;
}

}  // namespace

bool DerivePbkdf2Sha1(std::string_view password, std::string_view salt, std::uint32_t rounds,
                      std::uint8_t* out, std::size_t size) {
    auto open = Bcrypt<OpenAlgorithm>("BCryptOpenAlgorithmProvider");
    auto derive = Bcrypt<DerivePbkdf2>("BCryptDeriveKeyPBKDF2");
    auto close = Bcrypt<CloseAlgorithm>("BCryptCloseAlgorithmProvider");
    BCRYPT_ALG_HANDLE hmac = nullptr;
    if (!open || !derive || !close ||
        open(&hmac, BCRYPT_SHA1_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG) != 0)
        return false;
    const LONG status =
        derive(hmac, reinterpret_cast<PUCHAR>(const_cast<char*>(password.data())),
               static_cast<ULONG>(password.size()),
               reinterpret_cast<PUCHAR>(const_cast<char*>(salt.data())),
               static_cast<ULONG>(salt.size()), rounds, out, static_cast<ULONG>(size), 0);
    close(hmac, 0);
    return status == 0;
}

bool RandomBytes(std::uint8_t* out, std::size_t size) {
    auto random = Bcrypt<GenRandom>("BCryptGenRandom");
    return random &&
           random(nullptr, out, static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

AesBlock::~AesBlock() {
    if (key_) Bcrypt<DestroyKey>("BCryptDestroyKey")(static_cast<BCRYPT_KEY_HANDLE>(key_));
}

bool AesBlock::SetKey(const std::uint8_t* key, std::size_t size) {
    if (key_) Bcrypt<DestroyKey>("BCryptDestroyKey")(static_cast<BCRYPT_KEY_HANDLE>(key_));
    key_ = nullptr;
    if (size != 16 && size != 24 && size != 32) return false;
    BCRYPT_ALG_HANDLE provider = AesProvider();
    auto generate = Bcrypt<GenerateKey>("BCryptGenerateSymmetricKey");
    if (!provider || !generate || !Bcrypt<DestroyKey>("BCryptDestroyKey")) return false;
    // No key object of our own: since Windows 7 the provider keeps it.
    BCRYPT_KEY_HANDLE made = nullptr;
    if (generate(provider, &made, nullptr, 0, const_cast<PUCHAR>(key), static_cast<ULONG>(size),
                 0) != 0)
        return false;
    key_ = made;
    return true;
}

void AesBlock::Encrypt(const std::uint8_t* in, std::uint8_t* out) const {
    UCHAR block[16];
    for (int i = 0; i < 16; ++i) block[i] = in[i];
    ULONG written = 0;
    Bcrypt<EncryptFunction>("BCryptEncrypt")(static_cast<BCRYPT_KEY_HANDLE>(key_), block, 16,
                                             nullptr, nullptr, 0, out, 16, &written, 0);
}

}  // namespace platform
